#include "terminal.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

bool StandardErrorIsTerminal()
{
    // _isatty() holds for every character device, the NUL device among them
    // (2>NUL); only a console redraws a line in place.
    const intptr_t handle = _get_osfhandle(_fileno(stderr));
    DWORD mode = 0;
    return handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}
