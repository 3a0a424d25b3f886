#include "logexport.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

bool SaveLogFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() alone would accept a short write or a failed final flush and
    // put a truncated copy in place of the old file, so both are checked and
    // any failure cancels the replacement.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (!written)
        file.cancelWriting();
    const bool committed = file.commit();
    return written && committed;
}
