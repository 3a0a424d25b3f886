#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Starts the virtual-supply program and returns the serial port path that it
// prints on its first line, or an empty string when it did not come up.
inline QString StartSupplyProgram(QProcess &process, const QString &program,
                                  const QStringList &arguments)
{
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return {};
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(5000))
            return {};
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

// The virtual-supply program on a pseudo-terminal, terminated when the test
// leaves it, by a failed check too.
struct SupplyProcess {
    SupplyProcess(const QString &program, const QStringList &arguments)
        : port(StartSupplyProgram(process, program, arguments))
    {
    }
    ~SupplyProcess()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    bool up() const { return port.startsWith(QLatin1String("/dev/pts/")); }
    qint64 pid() const { return process.processId(); }

    QProcess process;
    const QString port;
};

// The virtual-supply program reached through a name of the test's own, a link
// gone with the supply: a program that reopens the line later never finds
// another test's terminal under a reused number.
struct LinkedSupply {
    LinkedSupply(const QString &program, const QStringList &arguments)
        : port(StartSupplyProgram(process, program, QStringList{QStringLiteral("--link"), link()} + arguments))
    {
    }
    ~LinkedSupply()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    bool up() const { return port.startsWith(QLatin1String("/dev/pts/")); }
    QString link() const { return dir.filePath(QStringLiteral("ttyV")); }

    QTemporaryDir dir;
    QProcess process;
    const QString port;  // the terminal itself
};
