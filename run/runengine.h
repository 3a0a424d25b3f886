#pragma once

#include "runcondition.h"
#include "runcounters.h"
#include "runprogram.h"
#include "runrecording.h"
#include "runsummary.h"

#include <QObject>

#include <optional>

// An unattended run: follows a program's steps on the monotonic clock the
// front end hands in, watches the limits on every reading, counts charge and
// energy, and records it all. It never talks to the supply: the front end
// feeds it every good status reading and carries out what pendingRequest()
// asks, then reports the confirmed write with requestDone(). A poll cycle
// does this once per tick; a command-line loop after every reading and at
// nextDeadlineMs().

struct RunSetup {
    RunProgram program;  // no steps: a recording only
    int repeat = 1;      // passes through the program; 0 until stopped
    qint64 durationMs = 0;  // a recording only ends after it; 0 until stopped
    QVector<RunCondition> limits;
    bool keepOutput = false;      // at the end and on stop, not at a limit
    qint64 recordIntervalMs = 1000;  // 0: a row for every reading
    QString recordPath;
    RunRecording::Mode recordMode = RunRecording::Mode::New;
    RecordingHeader header;
};

// A write the engine wants from the supply.
struct SupplyRequest {
    enum class Kind { Setpoints, Output };
    Kind kind = Kind::Setpoints;
    SetpointRecord setpoints;  // mV and mA, for Setpoints
    bool outputOn = false;     // for Output
};

enum class RunOutcome {
    Running,
    Completed,        // the program ended
    Stopped,          // on request
    LimitTripped,
    RecordingFailed,  // the recording could not be written
    Aborted,          // the supply failed the run: no answer, a lost port, a refused write
};

// How the output was left when the run finished.
enum class OutputEnd {
    Kept,     // as the program left it (--keep-output at the end or a stop)
    Off,      // switched off and confirmed
    Unknown,  // the off was never confirmed
};

Q_DECLARE_METATYPE(RunOutcome)

struct RunProgress {
    int step = 0;  // 1-based; 0 in a recording only
    int stepCount = 0;
    int pass = 0;  // 1-based
    int repeat = 1;
    qint64 stepLeftMs = 0;
    qint64 elapsedMs = 0;
    double ampereHours = 0;
    double wattHours = 0;
    std::optional<double> watts;  // of the last reading
};

class RunEngine : public QObject
{
    Q_OBJECT

public:
    explicit RunEngine(QObject *parent = nullptr);
    ~RunEngine() override;

    // Opens the recording and begins the run at nowMs (the front end's
    // monotonic clock); wallStart is the same moment on the calendar.
    // knownSetpoints, read from the supply, are where a first ramp starts.
    // False, with errorString(), when the recording cannot be opened.
    bool start(const RunSetup &setup, qint64 nowMs, const QDateTime &wallStart,
               std::optional<SetpointRecord> knownSetpoints = std::nullopt);
    // Opens the recording ahead of start() (which then keeps it), so that a
    // recording in use is refused before the supply is reached; false, with
    // errorString() and perhaps recordingHolder(), when it cannot be opened.
    bool openRecording(const RunSetup &setup, qint64 nowMs);
    // The run will not start after all: the recording is put back as it was.
    void abandonRecording();

    void feedStatus(const StatusRecord &status, qint64 nowMs);
    // The temperature column and conditions use the last measurement fed,
    // while it is recent.
    void feedMeasurement(const MeasurementRecord &measurement, qint64 nowMs);
    // The one rule for when a front end reads the measurements: every
    // MeasurementPeriodMs for the temperature column, every
    // WatchedMeasurementPeriodMs while a limit or the step's condition
    // watches the temperature. Due MeasurementSlackMs early, so that status
    // readings on a grid of the same period take it every time.
    static constexpr qint64 MeasurementPeriodMs = 5000;
    static constexpr qint64 WatchedMeasurementPeriodMs = 1000;
    static constexpr qint64 MeasurementSlackMs = 250;
    bool measurementDue(qint64 nowMs) const;
    // Time passes: ends steps, moves ramps, syncs the recording.
    void advance(qint64 nowMs);
    // When advance() is next needed; nothing when only readings matter.
    std::optional<qint64> nextDeadlineMs() const;
    bool needsTemperature() const;

    std::optional<SupplyRequest> pendingRequest() const;
    // The supply confirmed the request.
    void requestDone(const SupplyRequest &request, qint64 nowMs);
    // The request is being sent: from now until it is confirmed (perhaps
    // never, though it reached the supply) what the supply holds is unknown.
    void requestSent(const SupplyRequest &request);
    // A step whose writes are not confirmed when its time is up holds the
    // next step back until they are (a ramp's last point, a step cut short
    // by a slow line), but no longer than this: a supply that takes longer
    // is silent, and the steps go on by the clock.
    static constexpr qint64 StepHoldMs = 2000;

    // The operator's stop: records "stop", then asks for the output off.
    void stop(qint64 nowMs);
    // The port went away; the run goes on by the clock while the front end
    // reopens it, and the supply is sent its state again when it is back.
    // A line only being taken over from a program that went (handover) is
    // the same supply all along: the counters go on, and a gap is recorded
    // only when the readings are too far apart, as after any silence.
    void portLost(qint64 nowMs, bool handover = false);
    void portRestored(qint64 nowMs);
    // The run cannot go on: records "abort REASON", then asks for the output
    // off (also with keepOutput).
    void abort(const QString &reason, qint64 nowMs);
    // An event row that changes nothing else ("no answer"), at atMs when
    // given: the moment it became true, if that was after the last row.
    void noteEvent(const QString &event, qint64 nowMs, std::optional<qint64> atMs = std::nullopt);
    // The output off could not be confirmed in the time allowed: records
    // "output unknown" and finishes.
    void giveUpOutput(qint64 nowMs);

    bool isActive() const { return phase == Phase::Running || phase == Phase::Ending; }
    bool isEnding() const { return phase == Phase::Ending; }
    bool isFinished() const { return phase == Phase::Finished; }
    RunOutcome outcome() const { return result; }
    OutputEnd outputEnd() const { return outputLeft; }
    // Why the run ended, as its event row says ("end", "stop", "limit
    // current>2", "abort no answer") or the recording's error.
    QString reason() const { return why; }
    QString errorString() const { return recording.errorString(); }
    // Who holds the recording, when start() failed because it is in use.
    std::optional<RecordingHolder> recordingHolder() const { return recording.holder(); }
    RunProgress progress(qint64 nowMs) const;
    // How the run went; complete once it has finished.
    RunSummary summary() const { return ending; }

signals:
    // Every event as it is recorded: "start", "step 2", "limit current>1", ...
    // with its row's time since the start.
    void eventRecorded(const QString &event, qint64 elapsedMs);
    void finished(RunOutcome outcome);

private:
    enum class Phase { Idle, Running, Ending, Finished };

    qint64 elapsed(qint64 nowMs) const { return nowMs - startMs; }
    void enterStep(int index, qint64 atElapsedMs, qint64 nowMs);
    void nextStep(qint64 atElapsedMs, qint64 nowMs);
    void updateRamp(qint64 nowMs);
    bool holdsStep(qint64 nowMs) const;
    RunQuantities quantities(const StatusRecord &status, qint64 nowMs) const;
    bool record(qint64 nowMs, const QString &event, bool withReading,
                const std::optional<SetpointRecord> &shownSetpoints = std::nullopt,
                std::optional<qint64> atMs = std::nullopt);
    void end(RunOutcome outcome, const QString &event, qint64 nowMs, bool withReading);
    void finish(qint64 nowMs, RunOutputState output);
    std::optional<double> recentCelsius(qint64 nowMs) const;

    RunSetup setup;
    Phase phase = Phase::Idle;
    RunOutcome result = RunOutcome::Running;
    OutputEnd outputLeft = OutputEnd::Unknown;
    QString why;
    qint64 startMs = 0;
    QDateTime wallStartUtc;
    RunRecording recording;
    RunCounters counters;

    int stepIndex = -1;
    int passIndex = 0;
    int stepsDone = 0;
    double stepStartAmpereHours = 0;
    double stepStartWattHours = 0;
    qint64 stepStartMs = 0;  // elapsed time of the step's start
    qint64 stepEndMs = 0;
    qint64 lastRampMs = 0;  // elapsed time of the last ramp point (on its grid)
    bool holding = false;   // the step's time is up, its writes not yet confirmed
    SetpointRecord rampFrom;
    SetpointRecord stepSetpoints;

    std::optional<SetpointRecord> wantedSetpoints;
    std::optional<bool> wantedOutput;
    std::optional<SetpointRecord> confirmedSetpoints;
    std::optional<bool> confirmedOutput;
    std::optional<SetpointRecord> knownSetpoints;  // what the supply holds, for the rows

    std::optional<StatusRecord> lastStatus;
    std::optional<double> celsius;
    std::optional<qint64> measuredAtMs;
    RunSummary ending;
    qint64 nextRowMs = 0;  // elapsed time of the next row due
    qint64 lastRowMs = 0;  // elapsed time of the last row written
    bool portDown = false;
    bool gapPending = false;
};
