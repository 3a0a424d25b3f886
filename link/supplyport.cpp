#include "supplyport.h"

#include "windowsportname.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QStringList>

QString SupplyPortDevice(const QString &path)
{
#ifdef Q_OS_WIN
    // A COM port is no file: resolving "COM3" as one would make it a path in
    // the working folder.
    return WindowsPortName(path);
#else
    QString named = path;
#ifdef Q_OS_UNIX
    // A bare name (as the port list gives it) is a device in /dev, as
    // QSerialPort takes it.
    if (!named.isEmpty() && !named.contains(QLatin1Char('/')))
        named.prepend(QLatin1String("/dev/"));
#endif
    const QString device = QFileInfo(named).canonicalFilePath();
    return device.isEmpty() ? path : device;
#endif
}

QString SupplyPortHolder(const QString &device)
{
#ifdef Q_OS_UNIX
    // Where and under which name QSerialPort keeps a device's lock file: the
    // first of these folders that has it or may take it, "LCK.." followed by
    // the path below /dev with each slash made an underscore.
    static const char *const folders[] = {"/var/lock",       "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp", "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QLatin1String("/LCK.."));
    for (const char *folder : folders) {
        const QFileInfo info{QLatin1String(folder)};
        const QString file = QLatin1String(folder) + name;
        if (!info.isReadable() || !(QFileInfo::exists(file) || info.isWritable()))
            continue;
        qint64 pid = 0;
        QString host;
        QString program;
        QLockFile lock(file);
        if (!lock.getLockInfo(&pid, &host, &program))
            return {};
        if (program.isEmpty())
            program = QStringLiteral("another program");
        return QStringLiteral("%1 (pid %2)").arg(program).arg(pid);
    }
#elif defined(Q_OS_WIN)
    // Windows opens a COM port for one program at a time and refuses the
    // next with "access denied", which Qt reports as a missing permission.
    Q_UNUSED(device)
    return QStringLiteral("another program");
#else
    Q_UNUSED(device)
#endif
    return {};
}

bool OpenSupplyPort(QSerialPort &port, const QString &path, QString *reason, bool *busy)
{
    if (busy)
        *busy = false;
    if (path.trimmed().isEmpty()) {
        *reason = QStringLiteral("no port named");
        return false;
    }
    const QString device = SupplyPortDevice(path);
    port.setPortName(device);
    const bool ready = port.open(QIODevice::ReadWrite) && port.setBaudRate(QSerialPort::Baud9600)
                       && port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity)
                       && port.setStopBits(QSerialPort::OneStop)
                       && port.setFlowControl(QSerialPort::NoFlowControl);
    if (!ready) {
        *reason = port.errorString();
        const bool locked = port.error() == QSerialPort::PermissionError;
        port.close();
        // A lock held by another program reads like a missing permission.
        const QString holder = locked ? SupplyPortHolder(device) : QString();
        if (!holder.isEmpty()) {
            *reason = QStringLiteral("the port is busy: %1 holds it").arg(holder);
            if (busy)
                *busy = true;
        }
        return false;
    }
    port.clear(QSerialPort::Input);
    return true;
}
