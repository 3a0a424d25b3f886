#include "recordingfile.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <io.h>
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
    // Shared for reading, writing and deleting as a C runtime file is, and
    // not inherited by child processes.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
                                      GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = qt_error_string(int(GetLastError()));
        return RecordingFileOpen::Failed;
    }
    OVERLAPPED where = {};
    where.Offset = LockOffsetLow;
    where.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD cause = GetLastError();
        CloseHandle(handle);
        if (cause == ERROR_LOCK_VIOLATION || cause == ERROR_IO_PENDING)
            return RecordingFileOpen::InUse;
        *error = qt_error_string(int(cause));
        return RecordingFileOpen::Failed;
    }
    // The descriptor is for QFile's size and the sync; every write goes
    // through the handle itself (AppendToRecordingFile).
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    if (fd < 0) {
        *error = SystemWords(errno);
        CloseHandle(handle);
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
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    while (*written < bytes.size()) {
        // Both offsets all ones: at the file's end, wherever that is now.
        OVERLAPPED atEnd = {};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD n = 0;
        if (!WriteFile(handle, bytes.constData() + *written, DWORD(bytes.size() - *written), &n, &atEnd)) {
            *error = qt_error_string(int(GetLastError()));
            return false;
        }
        if (n == 0) {
            *error = QStringLiteral("the system wrote nothing");
            return false;
        }
        *written += n;
    }
    return true;
}

bool TruncateRecordingFile(QFile &file, qint64 size, QString *error)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
        *error = qt_error_string(int(GetLastError()));
        return false;
    }
    return true;
}
