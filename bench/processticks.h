#pragma once

#include <QFile>
#include <QList>
#include <QString>

// utime + stime of a process in clock ticks, or -1 when it cannot be read.
inline qint64 ProcessTicks(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = file.readAll();
    // The command name is in parentheses and may hold blanks: count fields
    // from the closing one. utime and stime are fields 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields.at(11).toLongLong() + fields.at(12).toLongLong();
}
