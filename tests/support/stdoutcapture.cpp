#include "stdoutcapture.h"

#include <cstdio>
#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    if (file.open()) {
        savedFd = ::dup(STDOUT_FILENO);
        ::dup2(file.handle(), STDOUT_FILENO);
    }
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    if (savedFd >= 0) {
        ::dup2(savedFd, STDOUT_FILENO);
        ::close(savedFd);
    }
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    QFile reader(file.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return {};
    return reader.readAll();
}
