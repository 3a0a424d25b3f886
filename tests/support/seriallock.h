#pragma once

#include <QFile>
#include <QFileInfo>
#include <QString>

// Where the UUCP-style lock of a device (/dev/pts/N) is kept as Qt Serial
// Port keeps it: LCK..pts_N in the first of its folders that has the file or
// may take it. Empty when none may.
inline QString SerialLockFile(const QString &device)
{
    QString name = device.startsWith("/dev/") ? device.mid(5) : device;
    name = "LCK.." + name.replace('/', '_');
    for (const char *folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                               "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QString path = QString::fromLatin1(folder) + '/' + name;
        QFileInfo dir{QString::fromLatin1(folder)};
        if (dir.isReadable() && (QFile::exists(path) || dir.isWritable()))
            return path;
    }
    return {};
}
