#include "recordingfile.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

QString SystemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The lock covers one byte far beyond any real end of file: Windows locks
// are mandatory, and a lock over the data would stop others from reading a
// recording while it grows.
constexpr DWORD LockOffsetLow = 0xFFFFFFFE;
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

}  // namespace

RecordingFileOpen OpenRecordingFile(QFile &file, const QString &path, QString *error)
{
    const QString native = QDir::toNativeSeparators(path);
    const int fd = _wopen(reinterpret_cast<const wchar_t *>(native.utf16()),
                          _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *error = SystemWords(errno);
        return RecordingFileOpen::Failed;
    }
    OVERLAPPED where = {};
    where.Offset = LockOffsetLow;
    where.OffsetHigh = LockOffsetHigh;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD cause = GetLastError();
        _close(fd);
        if (cause == ERROR_LOCK_VIOLATION || cause == ERROR_IO_PENDING)
            return RecordingFileOpen::InUse;
        *error = qt_error_string(int(cause));
        return RecordingFileOpen::Failed;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        _close(fd);
        return RecordingFileOpen::Failed;
    }
    return RecordingFileOpen::Done;
}

bool AppendToRecordingFile(QFile &file, const QByteArray &bytes, qint64 *written, QString *error)
{
    *written = 0;
    const int fd = file.handle();
    while (*written < bytes.size()) {
        const int n = _write(fd, bytes.constData() + *written, unsigned(bytes.size() - *written));
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
    const errno_t cause = _chsize_s(file.handle(), size);
    if (cause != 0) {
        *error = SystemWords(cause);
        return false;
    }
    return true;
}
