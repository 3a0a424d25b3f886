#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The recording's file on the system's own terms: one descriptor opened for
// appending, held with an exclusive advisory lock for as long as it is open,
// and every failure in the system's own words.

enum class RecordingFileOpen { Done, InUse, Failed };

// Opens path for appending (created when missing) into file, which owns the
// descriptor from then on, and locks it (on POSIX only a regular file: a
// terminal or /dev/null is everybody's). InUse: another process holds the
// lock, and the file is left closed. Failed: *error says why.
RecordingFileOpen OpenRecordingFile(QFile &file, const QString &path, QString *error);

// Writes all the bytes at the file's end, or says why not in *error; how many
// went out is in *written either way.
bool AppendToRecordingFile(QFile &file, const QByteArray &bytes, qint64 *written, QString *error);

// Cuts the file back to size bytes.
bool TruncateRecordingFile(QFile &file, qint64 size, QString *error);
