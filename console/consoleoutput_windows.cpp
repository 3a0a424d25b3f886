#include "consoleoutput.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

void PrepareConsoleOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Fails harmlessly when the output is a pipe or a file, not a console.
    SetConsoleOutputCP(CP_UTF8);
}
