#pragma once

#include "rundriver.h"
#include "lineruntransport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

class CommandContext;

struct UnattendedOptions {
    RunSetup setup;
    RunPolicy policy;
};

// velkaroctl's front end to the run driver: lets it work whenever it has
// something due, sleeps in the event loop in between (so that a signal wakes
// it), and tells the events and a progress line on the standard error.
class UnattendedRun : public QObject
{
    Q_OBJECT

public:
    UnattendedRun(CommandContext &context, const UnattendedOptions &options, QObject *parent = nullptr);

    // Takes the recording (and its lock) before the supply is reached, so
    // that a second run on the same file is refused with nothing sent.
    int OpenRecording();
    // Gives back a recording taken for a run that cannot start.
    void AbandonRecording();
    // Runs to the end; returns the exit status.
    int Run();

public slots:
    // SIGINT, SIGTERM, SIGHUP, SIGQUIT: stop the run, switching the output off.
    void Stop(int signalNumber);

private slots:
    void Report(const QString &event, qint64 elapsedMs);

private:
    qint64 now() const { return clock.elapsed(); }
    void WaitUntil(qint64 dueMs);
    void ShowProgress();
    // What takes the progress line off the terminal before other text, or
    // nothing when none is shown.
    QString ClearProgress();
    int Finish();

    CommandContext &context;
    UnattendedOptions options;
    LineRunTransport transport;
    RunDriver driver;
    QElapsedTimer clock;
    QEventLoop waiting;
    int stopSignal = 0;
    bool stopGiven = false;
    bool terminal = false;
    bool progressShown = false;
};
