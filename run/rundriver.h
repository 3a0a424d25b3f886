#pragma once

#include "runengine.h"

#include <QObject>

#include <functional>

// How a front end reaches the supply for a run. velkaroctl makes confirmed
// blocking writes; the window makes one link operation in a poll tick. Each
// call is one attempt: the driver decides when to try again.
class RunTransport
{
public:
    enum class Result {
        Done,
        NoAnswer,  // nothing came back: the supply is silent (or busy)
        Refused,   // an answer came, but not the acknowledgement or value wanted
    };

    virtual ~RunTransport() = default;
    virtual bool isOpen() const = 0;
    // Opens a lost port again by the name it was opened by; true when open.
    virtual bool reopen() = 0;
    // True while the line is down because the program that owned it went
    // and the line is being taken over: it comes back without a reconnect.
    virtual bool handingOver() const { return false; }
    virtual Result readStatus(StatusRecord &status) = 0;
    virtual Result readMeasurement(MeasurementRecord &measurement) = 0;
    virtual Result writeSetpoints(const SetpointRecord &setpoints) = 0;
    virtual Result writeOutput(bool on) = 0;
};

// The failure policy, the same in both programs. A write reaches the driver
// as the line's write policy left it (tried, acknowledged, read back), so one
// refusal is a supply that does not do what the run needs.
struct RunPolicy {
    static constexpr qint64 NoAnswerAfterMs = 2000;  // "no answer" is recorded
    static constexpr qint64 ReopenPeriodMs = 1000;
    // A line being taken over is tried again this often, and waited for
    // this long even without a reconnect (then the rules for a lost port
    // apply).
    static constexpr qint64 HandoverPollMs = 100;
    static constexpr qint64 HandoverBoundMs = 5000;

    qint64 readIntervalMs = 1000;     // status readings; never more than a second apart
    qint64 maxSilenceMs = 10000;      // without a good reading, then the run aborts
    bool reconnect = false;           // a lost port or a silent supply is waited for
    qint64 reconnectWithinMs = 300000;  // ... this long, then the run aborts
    qint64 offRetryMs = 60000;        // how long the output off is tried
    qint64 retryPeriodMs = 250;       // between tries of a failed write; longer than a
                                      // poll tick, so that readings come in between
    int refusalsAllowed = 1;          // refused writes in a row before the run aborts
    bool readsMeasurements = false;   // for temperature conditions; else fed by the front end
};

// Drives a run: decides what the supply is asked next (a status reading at
// least every readIntervalMs whatever is written, the engine's writes in
// between, the output off at the end), watches for silence and a lost port,
// and ends every run it cannot go on with the output off confirmed, or after
// offRetryMs with the output's state unknown. Its clock is the front end's
// monotonic milliseconds; it never waits.
class RunDriver : public QObject
{
    Q_OBJECT

public:
    // clock: the front end's monotonic milliseconds, read again after each
    // step with the supply, so that a blocking step's outcome is stamped
    // with the time it came, not the time it began.
    RunDriver(RunTransport &transport, const RunPolicy &policy, std::function<qint64()> clock,
              QObject *parent = nullptr);

    RunEngine &engine() { return runEngine; }
    const RunEngine &engine() const { return runEngine; }
    const RunPolicy &policy() const { return rules; }

    // As RunEngine::start; the supply counts as answering from nowMs.
    bool start(const RunSetup &setup, qint64 nowMs, const QDateTime &wallStart,
               std::optional<SetpointRecord> knownSetpoints = std::nullopt);
    // At most one operation with the supply; true when one was made (the
    // window's tick is then taken).
    bool poll(qint64 nowMs);
    // When poll() next has something to do.
    qint64 nextDueMs(qint64 nowMs) const;

    // The operator, a signal, a close or a disconnect: "stop", then the off
    // (unless kept).
    void stop(qint64 nowMs);
    // A front end's own reason to end: "abort REASON", then the off.
    void abort(const QString &reason, qint64 nowMs);
    void feedMeasurement(const MeasurementRecord &measurement, qint64 nowMs);

    bool isActive() const { return runEngine.isActive(); }
    bool isFinished() const { return runEngine.isFinished(); }
    // No good status reading for NoAnswerAfterMs.
    bool isSilent() const { return silent; }

signals:
    void eventRecorded(const QString &event, qint64 elapsedMs);
    void finished(RunOutcome outcome);

private slots:
    void EngineFinished(RunOutcome outcome);

private:
    qint64 TimeAfter(qint64 nowMs) const;
    void NoteEnding(qint64 nowMs);
    void Abort(const QString &reason, qint64 nowMs);
    qint64 allowedSilenceMs() const;
    void WatchDeadlines(qint64 nowMs);
    bool KeepPort(qint64 nowMs);
    bool WriteOff(qint64 nowMs);
    bool ReadStatus(qint64 nowMs);
    bool Write(const SupplyRequest &request, qint64 nowMs);

    RunTransport &transport;
    RunPolicy rules;
    std::function<qint64()> clock;
    RunEngine runEngine;

    qint64 startedMs = 0;
    qint64 lastGoodMs = 0;     // the last good status reading
    qint64 nextReadMs = 0;
    qint64 nextWriteMs = 0;    // after an unanswered write
    qint64 nextReopenMs = 0;
    qint64 portLostMs = 0;
    qint64 endingSinceMs = 0;  // the output off wanted since
    bool portDown = false;
    bool silent = false;
    bool ending = false;
    bool lastWasSetpoints = false;  // the last operation was a set-point write

    int refusals = 0;
};
