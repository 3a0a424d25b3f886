#include "consoleoutput.h"

void PrepareConsoleOutput()
{
    // POSIX streams never translate line ends, and terminals take UTF-8.
}

void RestoreConsoleOutput() {}
