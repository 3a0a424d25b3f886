#include "stdoutcapture.h"

#include <cstdio>
#include <unistd.h>

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
