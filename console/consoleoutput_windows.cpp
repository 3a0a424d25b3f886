#include "consoleoutput.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// The console's code page before the program made it UTF-8; 0 when it was
// not changed.
UINT givenBackCodePage = 0;

}  // namespace

void PrepareConsoleOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // 0 when the output is a pipe or a file, not a console.
    const UINT codePage = GetConsoleOutputCP();
    if (codePage == 0 || codePage == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
        return;
    static const bool restoredAtExit = std::atexit(RestoreConsoleOutput) == 0;
    (void)restoredAtExit;
    givenBackCodePage = codePage;
}

void RestoreConsoleOutput()
{
    if (givenBackCodePage != 0 && SetConsoleOutputCP(givenBackCodePage))
        givenBackCodePage = 0;
}
