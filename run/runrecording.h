#pragma once

#include "records.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <optional>

// The recording of a run: CSV, UTF-8, LF. A block of "#" lines says what ran,
// then the header row (only into a new or empty file), then one row per
// reading or event, and a last "#" line with the run's summary. Every row goes
// out whole in one write; the file is synced to disk at every event and at
// least every SyncPeriodMs, so a crash leaves whole rows and loses at most
// the last moments. One writer at a time: the file stays locked while open.

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
    std::optional<double> celsius;  // blank without a recent measurement
    int pass = 0;  // 1-based; 0 leaves the field blank
};

// Who holds a recording that is in use, as its own "#" block says.
struct RecordingHolder {
    QString program;  // empty when the block does not say
    qint64 pid = 0;
};

class RunRecording
{
public:
    enum class Mode { New, Append };
    static constexpr qint64 SyncPeriodMs = 2000;
    static const QByteArray HeaderRow;
    // The layout before temperature_C and pass, which is not appended to.
    static const QByteArray OlderHeaderRow;
    static const QByteArray CutRowMark;

    // Opens and locks the file and writes the "#" block (and the header row
    // into a new or empty file). Append refuses a file whose header row
    // differs, and turns a last line cut short by a crash into a "#" line.
    // A file another writer holds is refused, with holder() saying who.
    bool open(const QString &path, Mode mode, const RecordingHeader &header, qint64 nowMs);
    // A "#" line after the rows, such as the run's summary.
    bool writeComment(const QString &text, qint64 nowMs);
    // One row in one write; an event row is synced to disk at once.
    bool write(const RecordingRow &row, qint64 nowMs, bool isEvent);
    // Syncs rows written since the last sync once SyncPeriodMs has passed.
    bool syncIfDue(qint64 nowMs);
    // When syncIfDue has something to do; nothing when all is on disk.
    std::optional<qint64> syncDueMs() const;
    void close();
    // Takes back what this opening wrote (its "#" block, the header row, a
    // file it created) and closes; a cut row's repair stays.
    void abandon();

    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return error; }
    // Set when open() failed because another writer holds the file.
    std::optional<RecordingHolder> holder() const { return heldBy; }

    static QByteArray FormatRow(const RecordingRow &row);
    // What a second writer of a file that another holds is told, naming the
    // holder when the file's own "#" block says who it is.
    static QString InUseMessage(const QString &path, std::optional<RecordingHolder> *holder = nullptr);

private:
    bool prepareAppend();
    bool writeWhole(const QByteArray &bytes);
    bool sync(qint64 nowMs);
    bool fail(const QString &what);

    QFile file;
    QString path;
    std::optional<RecordingHolder> heldBy;
    qint64 goodSize = 0;  // the file's size after the last whole row
    qint64 sizeBeforeBlock = 0;
    bool created = false;
    bool unsynced = false;
    qint64 lastSyncMs = 0;
    QString error;
};
