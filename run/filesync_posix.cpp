#include "filesync.h"

#include <unistd.h>

bool SyncFileToDisk(QFile &file)
{
    const int fd = file.handle();
    return fd >= 0 && fsync(fd) == 0;
}
