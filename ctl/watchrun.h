#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>

class CommandContext;
class QFileDevice;

struct WatchOptions {
    qint64 intervalNs = 500000000;  // 0: one sample after the other
    int count = 0;                  // lines to write; 0: no limit
    qint64 durationNs = 0;          // 0: no limit
    bool measure = false;           // the measurements too
    bool jsonl = false;             // else CSV with a header line
    bool header = true;             // CSV: the header line first (not when appending)
    bool power = false;             // the output power, volts times amperes
    int maxFailures = 10;           // failed samples in a row that end the run
};

// Samples the supply at a steady interval into output, one flushed line per
// good sample. Sample k is due k intervals after the start on a monotonic
// clock, so the rate never drifts; a sample that overruns its slot skips the
// slots it missed. A failed sample writes nothing: it is counted and told on
// the standard error.
class WatchRun : public QObject
{
    Q_OBJECT

public:
    // On the context's connected supply.
    WatchRun(CommandContext &context, QFileDevice &output, const WatchOptions &options,
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
    bool Put(const QString &line);
    // Once a good sample took longer than the interval: says so and samples
    // one after the other from then on.
    void NoteSampleTime(qint64 sampleNs);

    CommandContext &context;
    QFileDevice &output;
    WatchOptions options;
    QElapsedTimer clock;
    QEventLoop waiting;
    bool stopping = false;
    int lines = 0;
};
