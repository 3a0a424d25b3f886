#include "portchoice.h"

#include <QSerialPortInfo>
#include <QStringList>

QString ChoosePortPath(const QString &given, QString *error)
{
    if (!given.isEmpty())
        return given;
    const QString fromEnvironment = qEnvironmentVariable("VELKARO_PORT");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QList<QSerialPortInfo> found = QSerialPortInfo::availablePorts();
    if (found.size() == 1)
        return found.first().systemLocation();
    if (found.isEmpty()) {
        *error = QStringLiteral("no serial port found; name one with --port or VELKARO_PORT");
        return {};
    }
    QStringList names;
    for (const QSerialPortInfo &info : found)
        names << info.systemLocation();
    *error = QStringLiteral("several serial ports found (%1); choose one with --port or VELKARO_PORT")
                 .arg(names.join(QStringLiteral(", ")));
    return {};
}
