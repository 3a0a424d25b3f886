#pragma once

#include "records.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <optional>

// The recording of a run: CSV, UTF-8, LF. A block of "#" lines says what ran,
// then the header row (only into a new or empty file), then one row per
// reading or event. Every row goes out whole in one write; the file is synced
// to disk at every event and at least every SyncPeriodMs, so a crash leaves
// whole rows and loses at most the last moments.

struct RecordingHeader {
    QString software;     // program and version, e.g. "velkaroctl 1.1"
    QString port;
    int address = 0;
    QDateTime start;      // local time with its UTC offset
    QString programFile;  // empty for a recording without a program
    QStringList limits;
};

struct RecordingRow {
    QDateTime time;  // UTC
    qint64 elapsedMs = 0;
    std::optional<StatusRecord> status;  // blank fields without a reading
    std::optional<SetpointRecord> setpoints;
    double ampereHours = 0;
    double wattHours = 0;
    int step = 0;  // 1-based; 0 leaves the field blank
    QString event;
};

class RunRecording
{
public:
    enum class Mode { New, Append };
    static constexpr qint64 SyncPeriodMs = 2000;
    static const QByteArray HeaderRow;

    // Opens the file and writes the "#" block (and the header row into a new
    // or empty file). Append refuses a file whose header row differs.
    bool open(const QString &path, Mode mode, const RecordingHeader &header, qint64 nowMs);
    // One row in one write; an event row is synced to disk at once.
    bool write(const RecordingRow &row, qint64 nowMs, bool isEvent);
    // Syncs rows written since the last sync once SyncPeriodMs has passed.
    bool syncIfDue(qint64 nowMs);
    // When syncIfDue has something to do; nothing when all is on disk.
    std::optional<qint64> syncDueMs() const;
    void close();

    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return error; }

    static QByteArray FormatRow(const RecordingRow &row);

private:
    bool writeWhole(const QByteArray &bytes);
    bool sync(qint64 nowMs);
    bool fail(const QString &what);

    QFile file;
    qint64 goodSize = 0;  // the file's size after the last whole row
    bool unsynced = false;
    qint64 lastSyncMs = 0;
    QString error;
};
