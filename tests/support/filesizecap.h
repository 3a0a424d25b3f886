#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN

// Windows has no limit on the size of the files a process writes: the tests
// that need one check Available and skip.
class FileSizeCap
{
public:
    static constexpr bool Available = false;
    explicit FileSizeCap(qint64) {}
};

#else

#include <csignal>
#include <sys/resource.h>

// Caps the size of files this process may write, for as long as it lives, so
// that a write fails with EFBIG instead of raising SIGXFSZ. Tests run as root,
// where permissions cannot make a write fail; the cap can.
class FileSizeCap
{
public:
    static constexpr bool Available = true;

    explicit FileSizeCap(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = saved;
        capped.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeCap()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;

private:
    rlimit saved{};
    void (*oldHandler)(int) = nullptr;
};

#endif
