#include "lostportwatch.h"

LostPortWatch *LostPortWatch::For(QSerialPort *port)
{
    if (auto *watch = port->findChild<LostPortWatch *>(QString(), Qt::FindDirectChildrenOnly))
        return watch;
    return new LostPortWatch(port);
}

LostPortWatch::LostPortWatch(QSerialPort *port)
    : QObject(port)
    , port(port)
{
    connect(port, &QSerialPort::errorOccurred, this, &LostPortWatch::PortError);
}

void LostPortWatch::PortError(QSerialPort::SerialPortError error)
{
    // Qt reports NoError as an open begins: a port opened again is no longer lost.
    if (error == QSerialPort::NoError)
        reason.clear();
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError
        || error == QSerialPort::UnsupportedOperationError || !port->isOpen())
        return;
    reason = Describe(error, port->errorString());
    port->close();
    emit PortLost(reason);
}

QString LostPortWatch::Describe(QSerialPort::SerialPortError error, const QString &systemText)
{
    QString kind;
    switch (error) {
    case QSerialPort::ReadError:
        // A read that finds the line closed returns nothing and sets no error
        // number: the system text Qt gives with it is whatever an earlier call
        // left behind (as "Inappropriate ioctl for device"), so it is not told.
        return QStringLiteral("read error");
    case QSerialPort::WriteError:
        kind = QStringLiteral("write error");
        break;
    case QSerialPort::ResourceError:
        kind = QStringLiteral("the device is no longer available");
        break;
    default:
        kind = QStringLiteral("error %1").arg(int(error));
        break;
    }
    if (systemText.isEmpty() || systemText == QLatin1String("Unknown error"))
        return kind;
    return kind + QStringLiteral(": ") + systemText;
}
