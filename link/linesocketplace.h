#pragma once

#include <QString>

// Where the local socket of a shared line called name lives: one place per
// user whatever the program's TMPDIR, so that every program the user starts
// finds the line's owner. On POSIX $XDG_RUNTIME_DIR, else a folder of the
// user's own under /tmp (/tmp/velkaro-UID, mode 0700); on Windows the name
// alone, a named pipe being global.
QString LineSocketPlace(const QString &name);
