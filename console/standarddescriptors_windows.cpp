#include "standarddescriptors.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

// Windows hands out handles, not the lowest free number; but the C runtime's
// descriptors 0, 1 and 2 are free in a program started without a console
// (the window), and a descriptor made for a file (the recording's) could
// take one of them. Holding them on NUL keeps them the standard streams'.
void OpenStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2)
            continue;
        const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (opened >= 0 && opened != fd) {
            _dup2(opened, fd);
            _close(opened);
        }
    }
}
