#include "supplyport.h"

#include "windowsportname.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QStringList>
#include <QThread>

namespace {

// Programs starting and ending on one port take and let go its lock many
// times a second; a real refusal (no permission for the lock's folder)
// costs these tries once.
constexpr int LockRaceTries = 10;
constexpr unsigned long LockRaceTryMs = 3;
// QLockFile writes its holder into the lock at once after making it: one
// still empty this long after was made by a program that died in between,
// and it would refuse the port, unexplained, until it went stale (30 s).
constexpr qint64 AbandonedLockMs = 1000;

// Removes the device's lock when it is empty and abandoned, waiting (at most
// AbandonedLockMs) for it to be old enough to tell. A lock a live program
// holds is never removed: removeStaleLockFile() refuses it.
bool RemoveAbandonedLock(const QString &device)
{
    const QString file = SupplyPortLockFile(device);
    QFileInfo lock(file);
    if (file.isEmpty() || !lock.exists() || lock.size() != 0)
        return false;
    const auto age = [&lock] { return lock.lastModified().msecsTo(QDateTime::currentDateTime()); };
    QThread::msleep(ulong(qBound(qint64(0), AbandonedLockMs - age() + 10, AbandonedLockMs)));
    // Still the old one: a lock made meanwhile belongs to a program taking
    // the port now.
    lock.refresh();
    return lock.exists() && lock.size() == 0 && age() >= AbandonedLockMs
           && QLockFile(file).removeStaleLockFile();
}

}  // namespace

QString SupplyPortLockFile(const QString &device)
{
#ifdef Q_OS_UNIX
    static const char *const folders[] = {"/var/lock",       "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp", "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QLatin1String("/LCK.."));
    for (const char *folder : folders) {
        const QFileInfo info{QLatin1String(folder)};
        const QString file = QLatin1String(folder) + name;
        if (info.isReadable() && (QFileInfo::exists(file) || info.isWritable()))
            return file;
    }
#else
    Q_UNUSED(device)
#endif
    return {};
}

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

bool SupplyPortHolderOf(const QString &device, QString *program, qint64 *pid)
{
    program->clear();
    *pid = 0;
#ifdef Q_OS_UNIX
    const QString file = SupplyPortLockFile(device);
    if (file.isEmpty())
        return false;
    QString host;
    return QLockFile(file).getLockInfo(pid, &host, program);
#elif defined(Q_OS_WIN)
    // Windows opens a COM port for one program at a time and refuses the
    // next with "access denied", which Qt reports as a missing permission.
    Q_UNUSED(device)
    return true;
#else
    Q_UNUSED(device)
#endif
    return false;
}

QString SupplyPortHolder(const QString &device)
{
    QString program;
    qint64 pid = 0;
    if (!SupplyPortHolderOf(device, &program, &pid))
        return {};
    if (program.isEmpty())
        program = QStringLiteral("another program");
    return pid > 0 ? QStringLiteral("%1 (pid %2)").arg(program).arg(pid) : program;
}

QString PortFailureText(const PortFailure &failure)
{
    switch (failure.kind) {
    case PortFailure::Kind::None:
        break;
    case PortFailure::Kind::NoName:
        return QStringLiteral("no port named");
    case PortFailure::Kind::Busy: {
        const QString program = failure.holder.isEmpty() ? QStringLiteral("another program") : failure.holder;
        const QString holder = failure.pid > 0 ? QStringLiteral("%1 (pid %2)").arg(program).arg(failure.pid) : program;
        return QStringLiteral("the port is busy: %1 holds it").arg(holder);
    }
    case PortFailure::Kind::System:
        return failure.systemText;
    }
    return {};
}

bool OpenSupplyPort(QSerialPort &port, const QString &path, PortFailure *failure)
{
    *failure = {};
    if (path.trimmed().isEmpty()) {
        failure->kind = PortFailure::Kind::NoName;
        return false;
    }
    const QString device = SupplyPortDevice(path);
    port.setPortName(device);
    // A lock that is gone by the time its holder is asked for was let go
    // meanwhile (or is being taken by the next program, not yet saying
    // who): the port is tried again rather than reported as refused.
    bool abandonedRemoved = false;
    for (int tries = LockRaceTries;; --tries) {
        const bool ready = port.open(QIODevice::ReadWrite) && port.setBaudRate(QSerialPort::Baud9600)
                           && port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity)
                           && port.setStopBits(QSerialPort::OneStop)
                           && port.setFlowControl(QSerialPort::NoFlowControl);
        if (ready)
            break;
        failure->kind = PortFailure::Kind::System;
        failure->error = port.error();
        failure->systemText = port.errorString();
        const bool locked = port.error() == QSerialPort::PermissionError;
        port.close();
        // A lock held by another program reads like a missing permission.
        if (locked && SupplyPortHolderOf(device, &failure->holder, &failure->pid)) {
            failure->kind = PortFailure::Kind::Busy;
            return false;
        }
        if (locked && !abandonedRemoved && RemoveAbandonedLock(device)) {
            abandonedRemoved = true;
            continue;
        }
        if (!locked)
            return false;
        if (tries <= 1) {
            // Held by a program that does not say who (being written, or in
            // a form QLockFile cannot read): busy all the same.
            if (QFileInfo::exists(SupplyPortLockFile(device)))
                failure->kind = PortFailure::Kind::Busy;
            return false;
        }
        QThread::msleep(LockRaceTryMs);
    }
    port.clear(QSerialPort::Input);
    return true;
}

bool OpenSupplyPort(QSerialPort &port, const QString &path, QString *reason, bool *busy)
{
    PortFailure failure;
    const bool opened = OpenSupplyPort(port, path, &failure);
    if (busy)
        *busy = failure.kind == PortFailure::Kind::Busy;
    if (!opened)
        *reason = PortFailureText(failure);
    return opened;
}
