#pragma once

#include <QFile>

// Pushes what the file holds through to the disk, past the system's caches:
// a power cut after it loses nothing written before. False on failure.
bool SyncFileToDisk(QFile &file);
