#include "unattendedrun.h"

#include "commandcontext.h"
#include "exitstatus.h"
#include "supplyport.h"
#include "terminal.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>

namespace {

// Status readings that may fail in a row before the supply counts as gone.
constexpr int MaxFailedReads = 5;
constexpr qint64 ReopenPeriodMs = 1000;

QString Clock(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

UnattendedRun::UnattendedRun(CommandContext &context, const UnattendedOptions &options, QObject *parent)
    : QObject(parent)
    , context(context)
    , options(options)
{
    connect(&engine, &RunEngine::eventRecorded, this, &UnattendedRun::Report);
}

void UnattendedRun::Stop()
{
    stopRequested = true;
    waiting.quit();
}

void UnattendedRun::WaitUntil(qint64 dueMs)
{
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    connect(&wake, &QTimer::timeout, &waiting, &QEventLoop::quit);
    for (;;) {
        const qint64 leftMs = dueMs - now();
        if (stopRequested || leftMs <= 0)
            return;
        wake.start(int(leftMs));
        waiting.exec();
    }
}

void UnattendedRun::Report(const QString &event)
{
    const qint64 elapsed = engine.progress(now()).elapsedMs;
    const QString line = QStringLiteral("%1 %2 %3\n")
                       .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
                       .arg(elapsed / 1000.0, 0, 'f', 3)
                       .arg(event);
    WriteErr(ClearProgress() + line);
}

void UnattendedRun::ShowProgress()
{
    if (!terminal || !engine.isActive())
        return;
    const RunProgress p = engine.progress(now());
    QString text;
    if (p.stepCount > 0) {
        text = QStringLiteral("step %1/%2").arg(p.step).arg(p.stepCount);
        if (p.repeat != 1)
            text += QStringLiteral(" pass %1%2").arg(p.pass).arg(p.repeat > 0 ? QStringLiteral("/%1").arg(p.repeat) : QString());
        // Time left rounds up: "00:00:00 left" only when the step is over.
        text += QStringLiteral(", %1 left").arg(Clock(p.stepLeftMs + 999));
    } else {
        text = QStringLiteral("recording");
    }
    text += QStringLiteral(", elapsed %1, %2 Ah, %3 Wh")
                .arg(Clock(p.elapsedMs))
                .arg(p.ampereHours, 0, 'f', 6)
                .arg(p.wattHours, 0, 'f', 6);
    WriteErr(QStringLiteral("\r") + text + QStringLiteral("\x1b[K"));
    progressShown = true;
}

QString UnattendedRun::ClearProgress()
{
    if (!progressShown)
        return {};
    progressShown = false;
    return QStringLiteral("\r\x1b[K");
}

bool UnattendedRun::PortLost()
{
    engine.portLost(now());
    if (options.reconnect && !stopRequested)
        return true;
    engine.supplyFailed(stopRequested
                            ? QStringLiteral("stopped while the port was lost; the output's state is unknown")
                            : QStringLiteral("the port was lost (%1); the output's state is unknown")
                                  .arg(context.PortLoss().isEmpty() ? QStringLiteral("closed")
                                                                    : context.PortLoss()),
                        now());
    return false;
}

bool UnattendedRun::Serve()
{
    while (const std::optional<SupplyRequest> request = engine.pendingRequest()) {
        SupplySession &session = context.Session();
        const bool setpoints = request->kind == SupplyRequest::Kind::Setpoints;
        const SupplyOutcome outcome =
            setpoints ? session.SetSetpoints(request->setpoints.VoltageSet / 1000.0,
                                             request->setpoints.CurrentSet / 1000.0)
                      : session.SetOutput(request->outputOn);
        if (outcome == SupplyOutcome::Done) {
            engine.requestDone(*request, now());
            continue;
        }
        if (!context.Port().isOpen())
            return PortLost();
        const QString what = setpoints ? QStringLiteral("run: setting %1 V, %2 A")
                                             .arg(request->setpoints.VoltageSet / 1000.0, 0, 'f', 3)
                                             .arg(request->setpoints.CurrentSet / 1000.0, 0, 'f', 3)
                                       : request->outputOn ? QStringLiteral("run: switching the output on")
                                                           : QStringLiteral("run: switching the output off");
        writeFailure = context.SupplyFailureText(what, outcome);
        engine.supplyFailed(what, now());
        return false;
    }
    return true;
}

bool UnattendedRun::ReadOnce()
{
    SupplySession &session = context.Session();
    StatusRecord status;
    const SupplyOutcome outcome = session.ReadStatus(status);
    if (outcome == SupplyOutcome::Done) {
        failedReads = 0;
        if (engine.measurementDue(now())) {
            MeasurementRecord measurement;
            if (session.ReadMeasurements(measurement) == SupplyOutcome::Done)
                engine.feedMeasurement(measurement, now());
        }
        engine.feedStatus(status, now());
        ShowProgress();
        return true;
    }
    if (!context.Port().isOpen())
        return PortLost();
    if (++failedReads < MaxFailedReads)
        return true;
    engine.supplyFailed(
        QStringLiteral("the supply did not answer %1 status reads in a row; the output's state is unknown")
            .arg(failedReads),
        now());
    return false;
}

void UnattendedRun::Reconnect()
{
    QString reason;
    if (OpenSupplyPort(context.Port(), context.PortPath(), &reason))
        engine.portRestored(now());
}

int UnattendedRun::OpenRecording()
{
    clock.start();
    if (engine.openRecording(options.setup, now()))
        return ExitStatus::Success;
    if (engine.recordingHolder())
        return context.Fail(ExitStatus::Usage, engine.errorString());
    return context.Fail(ExitStatus::Usage,
                        QStringLiteral("run: cannot write the recording: %1").arg(engine.errorString()));
}

void UnattendedRun::AbandonRecording()
{
    engine.abandonRecording();
}

int UnattendedRun::Run()
{
    terminal = StandardErrorIsTerminal();
    SetpointRecord known;
    const SupplyOutcome read = context.Session().ReadSetpoints(known);
    if (read != SupplyOutcome::Done) {
        engine.abandonRecording();
        return context.FailSupply(QStringLiteral("run: reading the set-points"), read);
    }
    // Readings keep to a grid on the run's own clock, so that a reading is
    // not under way when a step is due.
    clock.start();
    if (!engine.start(options.setup, now(), QDateTime::currentDateTime(), known))
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("run: cannot write the recording: %1").arg(engine.errorString()));

    qint64 nextReadMs = now();
    qint64 nextReopenMs = 0;
    while (!engine.isFinished()) {
        if (stopRequested && !stopGiven) {
            stopGiven = true;
            engine.stop(now());
        }
        engine.advance(now());
        const bool portOpen = context.Port().isOpen();
        if (portOpen && !Serve())
            break;
        if (engine.isFinished())
            break;
        if (!context.Port().isOpen()) {
            // Lost, perhaps while waiting: with --reconnect, reopen it by its
            // path every second while the run goes on by its clock.
            if (!PortLost())
                break;
            if (now() >= nextReopenMs) {
                Reconnect();
                nextReopenMs = now() + ReopenPeriodMs;
                if (context.Port().isOpen()) {
                    nextReadMs = now();
                    continue;
                }
            }
            const std::optional<qint64> deadline = engine.nextDeadlineMs();
            WaitUntil(deadline ? std::min(*deadline, nextReopenMs) : nextReopenMs);
            continue;
        }
        if (engine.isEnding())
            continue;  // the output off is being written
        if (now() >= nextReadMs) {
            if (!ReadOnce())
                break;
            const qint64 interval = options.intervalMs;
            nextReadMs = interval > 0 ? (now() / interval + 1) * interval : now();
            continue;
        }
        const std::optional<qint64> deadline = engine.nextDeadlineMs();
        WaitUntil(deadline ? std::min(*deadline, nextReadMs) : nextReadMs);
        ShowProgress();
    }
    return Finish();
}

int UnattendedRun::Finish()
{
    WriteErr(ClearProgress());
    int status = ExitStatus::SupplyFailed;
    QString failure;
    switch (engine.outcome()) {
    case RunOutcome::Completed:
    case RunOutcome::Stopped:
        status = ExitStatus::Success;
        break;
    case RunOutcome::LimitTripped:
        status = ExitStatus::LimitTripped;
        failure = QStringLiteral("run: stopped by %1; output switched off").arg(engine.reason());
        break;
    case RunOutcome::RecordingFailed:
        failure = QStringLiteral("run: %1; output switched off").arg(engine.reason());
        break;
    case RunOutcome::SupplyFailed:
    case RunOutcome::Running:
        failure = writeFailure.isEmpty() ? QStringLiteral("run: %1").arg(engine.reason()) : writeFailure;
        break;
    }
    if (!failure.isEmpty())
        WriteErr(QStringLiteral("velkaroctl: %1\n").arg(failure));
    // How it went, on the standard output whatever the end: one line, or
    // under --json one object that carries the failure too.
    const RunSummary summary = engine.summary();
    if (context.Options().json) {
        QJsonObject object = summary.json();
        object.insert(QStringLiteral("exit"), status);
        if (!failure.isEmpty())
            object.insert(QStringLiteral("error"), failure);
        WriteOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
    } else {
        WriteOut(summary.text() + '\n');
    }
    return status;
}
