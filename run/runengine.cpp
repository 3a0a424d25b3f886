#include "runengine.h"

#include "units.h"

#include <algorithm>

namespace {

// A ramp moves its set-points at least this often.
constexpr qint64 RampPeriodMs = 500;

bool SameSetpoints(const SetpointRecord &a, const SetpointRecord &b)
{
    return a.VoltageSet == b.VoltageSet && a.CurrentSet == b.CurrentSet;
}

SetpointRecord SetpointsOf(const RunStep &step)
{
    SetpointRecord s;
    s.VoltageSet = ToThousandths(step.volts);
    s.CurrentSet = ToThousandths(step.amperes);
    return s;
}

}  // namespace

RunEngine::RunEngine(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<RunOutcome>();
}

RunEngine::~RunEngine()
{
    recording.close();
}

bool RunEngine::start(const RunSetup &runSetup, qint64 nowMs, const QDateTime &wallStart,
                      std::optional<SetpointRecord> supplySetpoints)
{
    if (isActive())
        return false;
    // An engine may run again: nothing of the last run carries over.
    stepIndex = -1;
    passIndex = 0;
    stepsDone = 0;
    stepStartAmpereHours = stepStartWattHours = 0;
    stepStartMs = stepEndMs = lastRampMs = 0;
    holding = false;
    ending = RunSummary();
    wantedSetpoints.reset();
    wantedOutput.reset();
    confirmedOutput.reset();
    lastStatus.reset();
    celsius.reset();
    measuredAtMs.reset();
    portDown = gapPending = false;
    setup = runSetup;
    if (setup.repeat < 0)
        setup.repeat = 1;
    if (!recording.isOpen() && !recording.open(setup.recordPath, setup.recordMode, setup.header, nowMs))
        return false;
    phase = Phase::Running;
    result = RunOutcome::Running;
    outputLeft = OutputEnd::Unknown;
    why.clear();
    startMs = nowMs;
    wallStartUtc = wallStart.toUTC();
    counters = RunCounters();
    knownSetpoints = supplySetpoints;
    confirmedSetpoints = supplySetpoints;
    nextRowMs = lastRowMs = 0;
    if (!record(nowMs, QStringLiteral("start"), false)) {
        // Nothing has been asked of the supply yet: the run simply never began.
        phase = Phase::Idle;
        return false;
    }
    if (!setup.program.steps.isEmpty()) {
        rampFrom = supplySetpoints ? *supplySetpoints : SetpointsOf(setup.program.steps.first());
        enterStep(0, 0, nowMs);
    }
    return phase == Phase::Running;
}

bool RunEngine::openRecording(const RunSetup &runSetup, qint64 nowMs)
{
    if (isActive())
        return false;
    return recording.open(runSetup.recordPath, runSetup.recordMode, runSetup.header, nowMs);
}

void RunEngine::abandonRecording()
{
    if (!isActive())
        recording.abandon();
}

void RunEngine::enterStep(int index, qint64 atElapsedMs, qint64 nowMs)
{
    const RunStep &step = setup.program.steps.at(index);
    if (stepIndex >= 0)
        rampFrom = stepSetpoints;
    stepIndex = index;
    holding = false;
    stepStartMs = atElapsedMs;
    stepEndMs = atElapsedMs + step.durationMs;
    stepSetpoints = SetpointsOf(step);
    stepStartAmpereHours = counters.ampereHours();
    stepStartWattHours = counters.wattHours();
    wantedOutput = step.outputOn;
    updateRamp(nowMs);
    // The step's row shows what the step writes, not what the last one left.
    record(nowMs, QStringLiteral("step %1").arg(index + 1), false, wantedSetpoints);
}

void RunEngine::nextStep(qint64 atElapsedMs, qint64 nowMs)
{
    ++stepsDone;
    if (stepIndex + 1 < setup.program.steps.size()) {
        enterStep(stepIndex + 1, atElapsedMs, nowMs);
        return;
    }
    if (setup.repeat != 0 && passIndex + 1 >= setup.repeat) {
        end(RunOutcome::Completed, QStringLiteral("end"), nowMs, false);
        return;
    }
    ++passIndex;
    enterStep(0, atElapsedMs, nowMs);
}

void RunEngine::updateRamp(qint64 nowMs)
{
    const RunStep &step = setup.program.steps.at(stepIndex);
    const qint64 into = std::max<qint64>(elapsed(nowMs) - stepStartMs, 0);
    if (step.rampMs <= 0 || into >= step.rampMs) {
        lastRampMs = stepStartMs + std::max<qint64>(step.rampMs, 0);
        wantedSetpoints = stepSetpoints;
        return;
    }
    // The set-points move on the ramp's grid from the step's start: each
    // point is wanted once, whenever the front end comes, and the last one
    // is the step's own values at the ramp's end.
    const qint64 point = into / RampPeriodMs * RampPeriodMs;
    lastRampMs = stepStartMs + point;
    const double share = double(point) / step.rampMs;
    SetpointRecord s;
    s.VoltageSet = qRound(rampFrom.VoltageSet + (stepSetpoints.VoltageSet - rampFrom.VoltageSet) * share);
    s.CurrentSet = qRound(rampFrom.CurrentSet + (stepSetpoints.CurrentSet - rampFrom.CurrentSet) * share);
    wantedSetpoints = s;
}

void RunEngine::advance(qint64 nowMs)
{
    if (phase == Phase::Running && stepIndex < 0 && setup.durationMs > 0 &&
        elapsed(nowMs) >= setup.durationMs)
        end(RunOutcome::Completed, QStringLiteral("end"), nowMs, false);
    if (phase == Phase::Running && stepIndex >= 0) {
        // Steps follow one another on the run's clock: a late call catches up
        // without shifting the steps after it. A step is over only once the
        // supply holds what it wrote: its last ramp point goes out before
        // the next step's values (or the end).
        holding = false;
        while (phase == Phase::Running && elapsed(nowMs) >= stepEndMs) {
            if (holdsStep(nowMs)) {
                holding = true;
                break;
            }
            nextStep(stepEndMs, nowMs);
        }
        if (phase == Phase::Running)
            updateRamp(nowMs);
    }
    if (isActive() && !recording.syncIfDue(nowMs))
        end(RunOutcome::RecordingFailed, QString(), nowMs, false);
}

bool RunEngine::holdsStep(qint64 nowMs) const
{
    if (portDown || elapsed(nowMs) - stepEndMs >= StepHoldMs)
        return false;
    const bool setpointsHeld = confirmedSetpoints && SameSetpoints(*confirmedSetpoints, stepSetpoints);
    return !setpointsHeld || confirmedOutput != setup.program.steps.at(stepIndex).outputOn;
}

std::optional<qint64> RunEngine::nextDeadlineMs() const
{
    std::optional<qint64> due = recording.syncDueMs();
    auto earliest = [&due](qint64 at) { due = due ? std::min(*due, at) : at; };
    if (phase == Phase::Running && stepIndex < 0 && setup.durationMs > 0)
        earliest(startMs + setup.durationMs);
    if (phase == Phase::Running && stepIndex >= 0) {
        earliest(startMs + stepEndMs + (holding ? StepHoldMs : 0));
        const RunStep &step = setup.program.steps.at(stepIndex);
        const qint64 rampEnd = stepStartMs + step.rampMs;
        if (lastRampMs < rampEnd) {
            // The next point on the ramp's grid, or its end.
            const qint64 next = stepStartMs + ((lastRampMs - stepStartMs) / RampPeriodMs + 1) * RampPeriodMs;
            earliest(startMs + std::min(next, rampEnd));
        }
    }
    return due;
}

bool RunEngine::needsTemperature() const
{
    auto usesTemperature = [](const RunCondition &c) { return c.quantity == RunQuantity::Temperature; };
    for (const RunCondition &c : setup.limits)
        if (usesTemperature(c))
            return true;
    if (stepIndex >= 0) {
        const std::optional<RunCondition> &until = setup.program.steps.at(stepIndex).until;
        return until && usesTemperature(*until);
    }
    for (const RunStep &step : setup.program.steps)
        if (step.until && usesTemperature(*step.until))
            return true;
    return false;
}

bool RunEngine::measurementDue(qint64 nowMs) const
{
    if (!isActive())
        return false;
    if (!measuredAtMs)
        return true;
    const qint64 period = needsTemperature() ? WatchedMeasurementPeriodMs : MeasurementPeriodMs;
    return nowMs - *measuredAtMs >= period - MeasurementSlackMs;
}

std::optional<double> RunEngine::recentCelsius(qint64 nowMs) const
{
    // A temperature two periods old is no longer the supply's: left blank
    // and never judged.
    const qint64 period = needsTemperature() ? WatchedMeasurementPeriodMs : MeasurementPeriodMs;
    if (!measuredAtMs || nowMs - *measuredAtMs > 2 * period)
        return std::nullopt;
    return celsius;
}

RunQuantities RunEngine::quantities(const StatusRecord &status, qint64 nowMs) const
{
    RunQuantities q;
    q.volts = OutputVolts(status);
    q.amperes = OutputAmperes(status);
    q.watts = q.volts * q.amperes;
    q.celsius = recentCelsius(nowMs);
    q.ampereHours = counters.ampereHours();
    q.wattHours = counters.wattHours();
    q.elapsedSeconds = elapsed(nowMs) / 1000.0;
    q.stepAmpereHours = q.ampereHours - stepStartAmpereHours;
    q.stepWattHours = q.wattHours - stepStartWattHours;
    q.stepElapsedSeconds = (elapsed(nowMs) - stepStartMs) / 1000.0;
    return q;
}

void RunEngine::feedMeasurement(const MeasurementRecord &measurement, qint64 nowMs)
{
    celsius = MeasuredCelsius(measurement);
    measuredAtMs = nowMs;
}

void RunEngine::feedStatus(const StatusRecord &status, qint64 nowMs)
{
    if (!isActive())
        return;
    lastStatus = status;
    const bool counterGap = counters.add(nowMs, OutputVolts(status), OutputAmperes(status));
    bool rowWritten = false;
    if (counterGap || gapPending) {
        gapPending = false;
        if (!record(nowMs, QStringLiteral("gap"), true))
            return;
        rowWritten = true;
    }
    if (phase == Phase::Running) {
        const RunQuantities q = quantities(status, nowMs);
        for (const RunCondition &limit : setup.limits) {
            if (limit.holds(q)) {
                why = QStringLiteral("limit %1").arg(limit.text());
                end(RunOutcome::LimitTripped, why, nowMs, true);
                return;
            }
        }
        if (stepIndex >= 0) {
            const std::optional<RunCondition> &until = setup.program.steps.at(stepIndex).until;
            // A reading taken before the step's writes are confirmed shows
            // the supply as the previous step left it (a charge's current
            // still 0 with the output off), which must not end the step.
            if (until && !pendingRequest() && until->holds(q)) {
                if (!record(nowMs, QStringLiteral("until %1").arg(until->text()), true))
                    return;
                rowWritten = true;
                nextStep(elapsed(nowMs), nowMs);
            }
        }
    }
    if (!rowWritten && isActive() && elapsed(nowMs) >= nextRowMs)
        record(nowMs, QString(), true);
    // Only now may a step that ended while the reading was on its way give
    // way to the next: the reading shows the supply as that step left it.
    advance(nowMs);
}

bool RunEngine::record(qint64 nowMs, const QString &event, bool withReading,
                       const std::optional<SetpointRecord> &shownSetpoints, std::optional<qint64> atMs)
{
    if (!recording.isOpen())
        return false;
    RecordingRow row;
    // Rows stay in time order: an event dated back is never before the last row.
    row.elapsedMs = atMs ? std::clamp(elapsed(*atMs), lastRowMs, std::max(lastRowMs, elapsed(nowMs)))
                         : elapsed(nowMs);
    lastRowMs = std::max(lastRowMs, row.elapsedMs);
    row.time = wallStartUtc.addMSecs(row.elapsedMs);
    if (withReading)
        row.status = lastStatus;
    row.setpoints = shownSetpoints ? shownSetpoints : knownSetpoints;
    row.ampereHours = counters.ampereHours();
    row.wattHours = counters.wattHours();
    row.step = stepIndex + 1;
    row.pass = stepIndex >= 0 ? passIndex + 1 : 0;
    row.event = event;
    row.celsius = recentCelsius(nowMs);
    const bool isEvent = !event.isEmpty();
    if (withReading) {
        // Rows keep to the interval's grid from the run's start.
        const qint64 interval = setup.recordIntervalMs;
        nextRowMs = interval > 0 ? (row.elapsedMs / interval + 1) * interval : row.elapsedMs;
    }
    if (!recording.write(row, nowMs, isEvent)) {
        recording.close();
        end(RunOutcome::RecordingFailed, QString(), nowMs, false);
        return false;
    }
    if (isEvent)
        emit eventRecorded(event, row.elapsedMs);
    return true;
}

void RunEngine::end(RunOutcome outcome, const QString &event, qint64 nowMs, bool withReading)
{
    if (phase != Phase::Running) {
        // A recording failing while the run already ends still says so.
        if (phase == Phase::Ending && outcome == RunOutcome::RecordingFailed && why.isEmpty())
            why = recording.errorString();
        return;
    }
    phase = Phase::Ending;
    result = outcome;
    if (outcome == RunOutcome::RecordingFailed)
        why = QStringLiteral("recording failed: %1").arg(recording.errorString());
    else if (why.isEmpty())
        why = event;
    if (!event.isEmpty() && recording.isOpen())
        record(nowMs, event, withReading);
    const bool keep = setup.keepOutput &&
                      (outcome == RunOutcome::Completed || outcome == RunOutcome::Stopped);
    wantedSetpoints.reset();
    if (keep) {
        wantedOutput.reset();
        outputLeft = OutputEnd::Kept;
        const std::optional<bool> on =
            confirmedOutput ? confirmedOutput
                            : lastStatus ? std::optional<bool>(lastStatus->OutputOn != 0) : std::nullopt;
        finish(nowMs, !on ? RunOutputState::Unknown
                          : *on ? RunOutputState::KeptOn : RunOutputState::OffConfirmed);
        return;
    }
    // Switched off by an explicit write, whatever the last reading said.
    wantedOutput = false;
    confirmedOutput.reset();
}

void RunEngine::finish(qint64 nowMs, RunOutputState output)
{
    if (phase == Phase::Finished)
        return;
    phase = Phase::Finished;
    ending.durationMs = elapsed(nowMs);
    ending.stepsDone = stepsDone;
    ending.stepCount = setup.program.steps.size();
    ending.pass = passIndex + 1;
    ending.passes = setup.repeat;
    ending.ampereHours = counters.ampereHours();
    ending.wattHours = counters.wattHours();
    ending.reason = why;
    ending.output = output;
    // The recording's last line says the same; a recording that has failed
    // is left as it is.
    if (recording.isOpen() && result != RunOutcome::RecordingFailed)
        recording.writeComment(QStringLiteral("summary: %1").arg(ending.text()), nowMs);
    recording.close();
    emit finished(result);
}

std::optional<SupplyRequest> RunEngine::pendingRequest() const
{
    // The output off of an ending run is wanted even on a port being
    // reopened: the front end writes it as soon as it can.
    if (!isActive() || (portDown && phase == Phase::Running))
        return std::nullopt;
    SupplyRequest request;
    if (wantedSetpoints && (!confirmedSetpoints || !SameSetpoints(*wantedSetpoints, *confirmedSetpoints))) {
        request.kind = SupplyRequest::Kind::Setpoints;
        request.setpoints = *wantedSetpoints;
        return request;
    }
    if (wantedOutput && confirmedOutput != wantedOutput) {
        request.kind = SupplyRequest::Kind::Output;
        request.outputOn = *wantedOutput;
        return request;
    }
    return std::nullopt;
}

void RunEngine::requestDone(const SupplyRequest &request, qint64 nowMs)
{
    if (!isActive())
        return;
    if (request.kind == SupplyRequest::Kind::Setpoints) {
        confirmedSetpoints = request.setpoints;
        knownSetpoints = request.setpoints;
        if (holding)
            advance(nowMs);
    } else {
        confirmedOutput = request.outputOn;
        if (phase == Phase::Ending && !request.outputOn) {
            outputLeft = OutputEnd::Off;
            if (recording.isOpen())
                record(nowMs, QStringLiteral("output off"), false);
            finish(nowMs, RunOutputState::OffConfirmed);
        } else if (holding) {
            advance(nowMs);
        }
    }
}

void RunEngine::requestSent(const SupplyRequest &request)
{
    // Rows show the set-points blank until the write is confirmed, rather
    // than pair a reading with values the supply may no longer hold.
    if (request.kind == SupplyRequest::Kind::Setpoints)
        knownSetpoints.reset();
}

void RunEngine::stop(qint64 nowMs)
{
    why = QStringLiteral("stop");
    end(RunOutcome::Stopped, QStringLiteral("stop"), nowMs, false);
}

void RunEngine::portLost(qint64 nowMs, bool handover)
{
    if (!isActive() || portDown)
        return;
    portDown = true;
    if (!handover) {
        // Perhaps another supply, or this one restarted, when the port is
        // back: nothing is counted across the loss or taken as held.
        gapPending = true;
        counters.breakChain();
        knownSetpoints.reset();
    }
    confirmedSetpoints.reset();
    confirmedOutput.reset();
    record(nowMs, QStringLiteral("port lost"), false);
    // A step held for its writes goes on by the clock: they cannot be made now.
    if (phase == Phase::Running && holding)
        advance(nowMs);
}

void RunEngine::portRestored(qint64 nowMs)
{
    if (!isActive() || !portDown)
        return;
    portDown = false;
    record(nowMs, QStringLiteral("reconnected"), false);
}

void RunEngine::abort(const QString &reason, qint64 nowMs)
{
    end(RunOutcome::Aborted, QStringLiteral("abort %1").arg(reason), nowMs, false);
}

void RunEngine::noteEvent(const QString &event, qint64 nowMs, std::optional<qint64> atMs)
{
    if (isActive())
        record(nowMs, event, false, std::nullopt, atMs);
}

void RunEngine::giveUpOutput(qint64 nowMs)
{
    if (!isActive())
        return;
    outputLeft = OutputEnd::Unknown;
    if (recording.isOpen())
        record(nowMs, QStringLiteral("output unknown"), false);
    finish(nowMs, RunOutputState::Unknown);
}

RunProgress RunEngine::progress(qint64 nowMs) const
{
    RunProgress p;
    p.stepCount = setup.program.steps.size();
    p.step = stepIndex + 1;
    p.pass = passIndex + 1;
    p.repeat = setup.repeat;
    p.elapsedMs = phase == Phase::Idle ? 0 : elapsed(nowMs);
    p.stepLeftMs = stepIndex >= 0 ? std::max<qint64>(0, stepEndMs - p.elapsedMs) : 0;
    p.ampereHours = counters.ampereHours();
    p.wattHours = counters.wattHours();
    if (lastStatus)
        p.watts = OutputVolts(*lastStatus) * OutputAmperes(*lastStatus);
    return p;
}
