#pragma once

#include "runengine.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

class CommandContext;

struct UnattendedOptions {
    RunSetup setup;
    qint64 intervalMs = 1000;  // between status readings; 0: back to back
                               // (the rows' interval is in the setup)
    bool reconnect = false;    // reopen a lost port by its path
};

// velkaroctl's front end to the run engine: reads the status on the
// interval's grid, carries out each write the engine asks for as a confirmed
// write, and wakes on time for the engine's step changes and ramp points.
class UnattendedRun : public QObject
{
    Q_OBJECT

public:
    UnattendedRun(CommandContext &context, const UnattendedOptions &options, QObject *parent = nullptr);

    // Opens and locks the recording before anything is sent; returns the
    // exit status to end with at once, or 0.
    int OpenRecording();
    // Takes the recording's block back when the run cannot begin.
    void AbandonRecording();
    // Runs to the end; returns the exit status.
    int Run();

public slots:
    // SIGINT, SIGTERM: stop the run, switching the output off.
    void Stop();

private slots:
    void Report(const QString &event);

private:
    qint64 now() const { return clock.elapsed(); }
    void WaitUntil(qint64 dueMs);
    // Carries out what the engine asks; false when the supply failed.
    bool Serve();
    bool ReadOnce();
    bool PortLost();
    void Reconnect();
    void ShowProgress();
    // What takes the progress line off the terminal before other text, or
    // nothing when none is shown.
    QString ClearProgress();
    int Finish();

    CommandContext &context;
    UnattendedOptions options;
    RunEngine engine;
    QElapsedTimer clock;
    QEventLoop waiting;
    bool stopRequested = false;
    bool stopGiven = false;
    bool terminal = false;
    bool progressShown = false;
    int failedReads = 0;
    QString writeFailure;  // a failed write, told with its details
};
