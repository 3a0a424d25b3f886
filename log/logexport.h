#pragma once

class QByteArray;
class QString;

// Writes bytes to the file at path through a temporary file that replaces it
// only once everything was written and flushed. Returns false when the file
// cannot be opened, written, flushed or committed; an existing file is then
// left as it was and no temporary file remains.
bool SaveLogFile(const QString &path, const QByteArray &bytes);
