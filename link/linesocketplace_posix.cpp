#include "linesocketplace.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

QString LineSocketPlace(const QString &name)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && QFileInfo(runtime).isDir())
        return runtime + QLatin1Char('/') + name;
    const QByteArray folder = "/tmp/velkaro-" + QByteArray::number(qulonglong(getuid()));
    // Only a folder this user made and nobody else may enter: another user's
    // (or a link planted there) would let them stand in for the line's owner.
    struct stat st = {};
    if ((::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST) && ::lstat(folder.constData(), &st) == 0
        && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0)
        return QFile::decodeName(folder) + QLatin1Char('/') + name;
    // The system's temporary folder, as before: shared only under one TMPDIR.
    return name;
}
