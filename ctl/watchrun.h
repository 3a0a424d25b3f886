#pragma once

#include "lineschedule.h"
#include "records.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>

#include <memory>

class CommandContext;
class QFile;

struct WatchOptions {
    qint64 intervalNs = 500000000;  // 0: one sample after the other
    int count = 0;                  // samples to write; 0: no limit
    qint64 durationNs = 0;          // 0: no limit
    bool measure = false;           // the measurements too
    bool jsonl = false;             // else CSV with a header line
    bool header = true;             // CSV: the header line first (not when appending)
    bool power = false;             // the output power, volts times amperes
    int maxFailures = 10;           // failed samples in a row that end the run
    QString outputName;             // the file written, for messages; empty: the standard output
};

// Samples the supply at a steady interval into output, one flushed line per
// good sample. Sample k is due k intervals after the start on a monotonic
// clock, so the rate never drifts; a sample that overruns its slot skips the
// slots it missed. A failed sample writes nothing: it is counted and told on
// the standard error.
//
// With several addresses a sample reads each in turn through the line's
// schedule and writes one line per address that answered, with its address.
// An address that stops answering is backed off (asked once every 2 s) and
// told once; the run ends on failures only when every address has failed
// that many samples in a row.
class WatchRun : public QObject
{
    Q_OBJECT

public:
    // On the context's connected supply.
    WatchRun(CommandContext &context, QFile &output, const WatchOptions &options,
             QObject *parent = nullptr);

    // Runs until the count or the duration is reached, Stop(), or too many
    // failures in a row. Returns the exit status.
    int Run();

public slots:
    // Ends the run after the sample in progress, if any.
    void Stop();

private:
    // Waits in the event loop until dueNs on the run's clock or Stop().
    void WaitUntil(qint64 dueNs);
    bool Sample(QString *line, QString *failure);
    // address: -1 for the one-address layout, which has no address field.
    QString Row(const QDateTime &time, double elapsed, int address, const StatusRecord &status,
                const MeasurementRecord &measurement) const;
    int RunOne();
    int RunSeveral();
    // One sample of every address: its lines in the order of the addresses;
    // false when the run must end (an output that cannot be written). asked
    // tells whether any request went out; failedAll, once every address has
    // failed --max-failures samples in a row, the fewest such failures, else 0.
    bool SampleEach(bool *asked, int *failedAll);
    bool Put(const QString &line);
    // Once a good sample took longer than the interval: says so and samples
    // one after the other from then on.
    void NoteSampleTime(qint64 sampleNs);

    CommandContext &context;
    QFile &output;
    WatchOptions options;
    QElapsedTimer clock;
    QEventLoop waiting;
    bool stopping = false;
    int lines = 0;
    // Several addresses only.
    // The line's queue (the link's), where the watch is a user of its own.
    LineSchedule *schedule = nullptr;
    int watchUser = 0;
    QList<int> failedInRow;  // per address, in the order given
    QList<bool> quiet;       // told as backed off, not yet as answering again
    int failedReadings = 0;
};
