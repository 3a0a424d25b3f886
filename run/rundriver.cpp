#include "rundriver.h"

#include <algorithm>

RunDriver::RunDriver(RunTransport &transport, const RunPolicy &policy, std::function<qint64()> clock,
                     QObject *parent)
    : QObject(parent)
    , transport(transport)
    , rules(policy)
    , clock(std::move(clock))
{
    rules.readIntervalMs = std::clamp<qint64>(rules.readIntervalMs, 0, 1000);
    connect(&runEngine, &RunEngine::eventRecorded, this, &RunDriver::eventRecorded);
    connect(&runEngine, &RunEngine::finished, this, &RunDriver::EngineFinished);
}

bool RunDriver::start(const RunSetup &setup, qint64 nowMs, const QDateTime &wallStart,
                      std::optional<SetpointRecord> knownSetpoints)
{
    lastGoodMs = startedMs = nowMs;
    nextReadMs = nextWriteMs = nextReopenMs = nowMs;
    lastWasSetpoints = false;
    portDown = silent = ending = false;
    refusals = 0;
    return runEngine.start(setup, nowMs, wallStart, knownSetpoints);
}

qint64 RunDriver::TimeAfter(qint64 nowMs) const
{
    return clock ? std::max(clock(), nowMs) : nowMs;
}

void RunDriver::EngineFinished(RunOutcome outcome)
{
    emit finished(outcome);
}

void RunDriver::NoteEnding(qint64 nowMs)
{
    if (ending || !runEngine.isEnding())
        return;
    ending = true;
    endingSinceMs = nowMs;
    nextWriteMs = nowMs;
}

void RunDriver::Abort(const QString &reason, qint64 nowMs)
{
    runEngine.abort(reason, nowMs);
    NoteEnding(nowMs);
}

void RunDriver::stop(qint64 nowMs)
{
    runEngine.stop(nowMs);
    NoteEnding(nowMs);
}

void RunDriver::abort(const QString &reason, qint64 nowMs)
{
    Abort(reason, nowMs);
}

void RunDriver::feedMeasurement(const MeasurementRecord &measurement, qint64 nowMs)
{
    runEngine.feedMeasurement(measurement, nowMs);
}

qint64 RunDriver::allowedSilenceMs() const
{
    return rules.reconnect ? std::max(rules.maxSilenceMs, rules.reconnectWithinMs) : rules.maxSilenceMs;
}

void RunDriver::WatchDeadlines(qint64 nowMs)
{
    NoteEnding(nowMs);
    if (!runEngine.isActive())
        return;
    if (ending) {
        if (nowMs - endingSinceMs >= rules.offRetryMs)
            runEngine.giveUpOutput(nowMs);
        return;
    }
    if (portDown) {
        const bool handover = transport.handingOver();
        const qint64 allowedMs = rules.reconnect ? rules.reconnectWithinMs : RunPolicy::HandoverBoundMs;
        if ((!rules.reconnect && !handover) || nowMs - portLostMs >= allowedMs)
            Abort(QStringLiteral("port lost"), nowMs);
        return;
    }
    const qint64 quietMs = nowMs - lastGoodMs;
    if (!silent && quietMs >= RunPolicy::NoAnswerAfterMs) {
        silent = true;
        // Dated when the silence reached its bound, not when a read that
        // was under way then gave up.
        runEngine.noteEvent(QStringLiteral("no answer"), nowMs, lastGoodMs + RunPolicy::NoAnswerAfterMs);
    }
    // Limits cannot be judged without readings: past the silence allowed the
    // run ends as it would at a limit.
    if (runEngine.isActive() && quietMs >= allowedSilenceMs())
        Abort(QStringLiteral("no answer"), nowMs);
}

bool RunDriver::KeepPort(qint64 nowMs)
{
    if (transport.isOpen()) {
        if (!portDown)
            return true;
        // Reopened by the front end itself.
    } else {
        const bool handover = transport.handingOver();
        const qint64 reopenPeriodMs = handover ? RunPolicy::HandoverPollMs : RunPolicy::ReopenPeriodMs;
        if (!portDown) {
            portDown = true;
            portLostMs = nowMs;
            nextReopenMs = nowMs + reopenPeriodMs;
            runEngine.portLost(nowMs, handover);
            if (!ending && !rules.reconnect && !handover)
                Abort(QStringLiteral("port lost"), nowMs);
            return false;
        }
        if (nowMs < nextReopenMs)
            return false;
        nextReopenMs = nowMs + reopenPeriodMs;
        if (!transport.reopen())
            return false;
    }
    portDown = false;
    // The supply is given the silence allowed from the reconnection on.
    lastGoodMs = std::max(lastGoodMs, nowMs);
    nextReadMs = nextWriteMs = nowMs;
    runEngine.portRestored(nowMs);
    return runEngine.isActive();
}

bool RunDriver::poll(qint64 nowMs)
{
    if (!runEngine.isActive())
        return false;
    runEngine.advance(nowMs);
    WatchDeadlines(nowMs);
    if (!runEngine.isActive() || !KeepPort(nowMs))
        return false;
    NoteEnding(nowMs);
    if (ending)
        return WriteOff(nowMs);
    // The engine moves a ramp's set-points on the ramp's own grid, so a
    // pending write is always due, unless a failed try waits its turn.
    const std::optional<SupplyRequest> request = runEngine.pendingRequest();
    const bool rampPoint = request && request->kind == SupplyRequest::Kind::Setpoints;
    const bool writeDue = request && nowMs >= nextWriteMs;
    const bool readDue = nowMs >= nextReadMs;
    // Writes go first, so that a step's writes follow one another and the
    // next reading shows them; but a due reading comes between two set-point
    // writes (a ramp's points), and a write that failed waits retryPeriodMs,
    // so that the readings are never starved.
    const bool rampAgain = rampPoint && lastWasSetpoints;
    if (readDue && (!writeDue || rampAgain))
        return ReadStatus(nowMs);
    if (writeDue)
        return Write(*request, nowMs);
    return false;
}

bool RunDriver::WriteOff(qint64 nowMs)
{
    const std::optional<SupplyRequest> request = runEngine.pendingRequest();
    if (!request || nowMs < nextWriteMs)
        return false;
    const RunTransport::Result result = transport.writeOutput(false);
    nowMs = TimeAfter(nowMs);
    if (result == RunTransport::Result::Done)
        runEngine.requestDone(*request, nowMs);
    else
        nextWriteMs = nowMs + rules.retryPeriodMs;
    return true;
}

bool RunDriver::ReadStatus(qint64 nowMs)
{
    lastWasSetpoints = false;
    const qint64 interval = rules.readIntervalMs;
    // On the run's own grid, as its rows are: a reading that lands just
    // before a row's time would otherwise leave that row out.
    nextReadMs = interval > 0 ? startedMs + ((nowMs - startedMs) / interval + 1) * interval : nowMs;
    StatusRecord status;
    if (transport.readStatus(status) != RunTransport::Result::Done)
        return true;
    nowMs = TimeAfter(nowMs);
    lastGoodMs = nowMs;
    silent = false;
    if (rules.readsMeasurements && runEngine.measurementDue(nowMs)) {
        MeasurementRecord measurement;
        if (transport.readMeasurement(measurement) == RunTransport::Result::Done)
            runEngine.feedMeasurement(measurement, nowMs);
    }
    runEngine.feedStatus(status, nowMs);
    NoteEnding(nowMs);
    return true;
}

bool RunDriver::Write(const SupplyRequest &request, qint64 nowMs)
{
    lastWasSetpoints = request.kind == SupplyRequest::Kind::Setpoints;
    runEngine.requestSent(request);
    const RunTransport::Result result = request.kind == SupplyRequest::Kind::Setpoints
                                            ? transport.writeSetpoints(request.setpoints)
                                            : transport.writeOutput(request.outputOn);
    nowMs = TimeAfter(nowMs);
    switch (result) {
    case RunTransport::Result::Done:
        refusals = 0;
        runEngine.requestDone(request, nowMs);
        break;
    case RunTransport::Result::Refused:
        // An answer that is not the acknowledgement: the supply is there but
        // does not do what the run needs.
        if (++refusals >= rules.refusalsAllowed) {
            Abort(QStringLiteral("write not confirmed"), nowMs);
            break;
        }
        nextWriteMs = nowMs + rules.retryPeriodMs;
        break;
    case RunTransport::Result::NoAnswer:
        // Silence, judged by the readings; the write is tried again.
        nextWriteMs = nowMs + rules.retryPeriodMs;
        break;
    }
    return true;
}

qint64 RunDriver::nextDueMs(qint64 nowMs) const
{
    if (!runEngine.isActive())
        return nowMs;
    qint64 due = nowMs + 1000;
    auto earliest = [&due](qint64 at) { due = std::min(due, at); };
    if (const std::optional<qint64> engineDue = runEngine.nextDeadlineMs())
        earliest(*engineDue);
    if (ending) {
        earliest(endingSinceMs + rules.offRetryMs);
        earliest(portDown ? nextReopenMs : nextWriteMs);
    } else if (portDown) {
        earliest(nextReopenMs);
        earliest(portLostMs + rules.reconnectWithinMs);
    } else {
        earliest(nextReadMs);
        if (runEngine.pendingRequest())
            earliest(nextWriteMs);
        if (!silent)
            earliest(lastGoodMs + RunPolicy::NoAnswerAfterMs);
        earliest(lastGoodMs + allowedSilenceMs());
    }
    return due;
}
