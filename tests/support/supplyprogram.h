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
