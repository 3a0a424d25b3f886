#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Redirects the process's standard output (file descriptor 1) into a temporary
// file for as long as the object lives, so a test can read back exactly what
// was written there.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything written to the standard output since construction.
    QByteArray text();

private:
    QTemporaryFile file;
    int savedFd = -1;
};
