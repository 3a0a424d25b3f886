#include "filesync.h"

#include <io.h>

bool SyncFileToDisk(QFile &file)
{
    const int fd = file.handle();
    return fd >= 0 && _commit(fd) == 0;
}
