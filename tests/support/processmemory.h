#pragma once

#include <QFile>
#include <QString>

// A figure of a process's memory in kB from /proc/<pid>/status: "VmRSS:"
// resident now, "VmHWM:" at its peak; -1 when it cannot be read.
inline qint64 MemoryKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
