#include "tracefile.h"

TraceFile::TraceFile(const QString &path, qint64 limit)
    : file(path)
    , limit(qMax<qint64>(1, limit))
{
}

bool TraceFile::Start(QString *reason)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *reason = file.errorString();
        return false;
    }
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool TraceFile::Rotate()
{
    file.close();
    QFile::remove(OldPath());
    // A file that cannot be renamed is begun anew all the same: the bound
    // holds either way.
    QFile::rename(file.fileName(), OldPath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

qint64 TraceFile::writeData(const char *data, qint64 length)
{
    if (file.size() > 0 && file.size() + length > limit && !Rotate())
        return -1;
    const qint64 written = file.write(data, length);
    // Handed to the system at once: a trace is read while the program runs,
    // and what it says last matters most after a crash.
    if (written < 0 || !file.flush())
        return -1;
    return written;
}
