#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

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
