#include "recordingfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

RecordingFileOpen OpenRecordingFile(QFile &file, const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = SystemWords(errno);
        return RecordingFileOpen::Failed;
    }
    // Only a file is held: a terminal, a pipe or /dev/null named as the
    // output is shared by every program that writes to it.
    struct stat st = {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        ::close(fd);
        if (cause == EWOULDBLOCK)
            return RecordingFileOpen::InUse;
        *error = SystemWords(cause);
        return RecordingFileOpen::Failed;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return RecordingFileOpen::Failed;
    }
    return RecordingFileOpen::Done;
}

bool AppendToRecordingFile(QFile &file, const QByteArray &bytes, qint64 *written, QString *error)
{
    *written = 0;
    const int fd = file.handle();
    while (*written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + *written, size_t(bytes.size() - *written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? SystemWords(errno) : QStringLiteral("the system wrote nothing");
            return false;
        }
        *written += n;
    }
    return true;
}

bool TruncateRecordingFile(QFile &file, qint64 size, QString *error)
{
    if (ftruncate(file.handle(), off_t(size)) != 0) {
        *error = SystemWords(errno);
        return false;
    }
    return true;
}
