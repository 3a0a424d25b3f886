#include "unattendedrun.h"

#include "commandcontext.h"
#include "exitstatus.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>

namespace {

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
    , driver(transport, options.policy, [this] { return now(); })
{
    connect(&driver, &RunDriver::eventRecorded, this, &UnattendedRun::Report);
}

void UnattendedRun::Stop(int signalNumber)
{
    if (stopSignal == 0)
        stopSignal = signalNumber;
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
        if ((stopSignal != 0 && !stopGiven) || leftMs <= 0)
            return;
        wake.start(int(leftMs));
        waiting.exec();
    }
}

void UnattendedRun::Report(const QString &event, qint64 elapsedMs)
{
    // The row's own time: an event dated back ("no answer") says when it held.
    const QDateTime at = QDateTime::currentDateTimeUtc().addMSecs(
        elapsedMs - driver.engine().progress(now()).elapsedMs);
    const QString line = QStringLiteral("%1 %2 %3\n")
                       .arg(at.toString(Qt::ISODateWithMs))
                       .arg(elapsedMs / 1000.0, 0, 'f', 3)
                       .arg(event);
    // A closed standard error loses the line, never the run.
    WriteErr(ClearProgress() + line);
}

void UnattendedRun::ShowProgress()
{
    if (!terminal || !driver.isActive())
        return;
    const RunProgress p = driver.engine().progress(now());
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
    if (driver.isSilent())
        text += QStringLiteral(", no answer");
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

int UnattendedRun::Run()
{
    terminal = StandardErrorIsTerminal();
    SetpointRecord known;
    const SupplyOutcome read = context.Session().ReadSetpoints(known);
    if (read != SupplyOutcome::Done) {
        AbandonRecording();
        return context.FailSupply(QStringLiteral("run: reading the set-points"), read);
    }
    transport.Attach(context.Session().Link(), context.Line());
    transport.SetAddress(context.Options().address);
    if (!clock.isValid())
        clock.start();
    if (!driver.start(options.setup, now(), QDateTime::currentDateTime(), known))
        return context.Fail(ExitStatus::Usage, QStringLiteral("run: cannot write the recording: %1")
                                                   .arg(driver.engine().errorString()));
    while (!driver.isFinished()) {
        if (stopSignal != 0 && !stopGiven) {
            stopGiven = true;
            driver.stop(now());
        }
        if (driver.poll(now())) {
            // A signal that came during the blocking step is seen at once.
            QCoreApplication::processEvents();
            ShowProgress();
            continue;
        }
        if (driver.isFinished())
            break;
        WaitUntil(std::max(driver.nextDueMs(now()), now() + 1));
        ShowProgress();
    }
    return Finish();
}

int UnattendedRun::OpenRecording()
{
    clock.start();
    RunEngine &engine = driver.engine();
    if (engine.openRecording(options.setup, now()))
        return ExitStatus::Success;
    if (engine.recordingHolder())
        return context.Fail(ExitStatus::Usage, engine.errorString());
    return context.Fail(ExitStatus::Usage,
                        QStringLiteral("run: cannot write the recording: %1").arg(engine.errorString()));
}

void UnattendedRun::AbandonRecording()
{
    driver.engine().abandonRecording();
}

int UnattendedRun::Finish()
{
    WriteErr(ClearProgress());
    const RunEngine &engine = driver.engine();
    const OutputEnd output = engine.outputEnd();
    const QString line =
        QStringLiteral("run: %1; %2")
            .arg(engine.reason(), output == OutputEnd::Off       ? QStringLiteral("output off")
                                  : output == OutputEnd::Unknown ? QStringLiteral("output unknown")
                                                                 : QStringLiteral("output kept"));
    int status = ExitStatus::SupplyFailed;
    if (stopSignal != 0) {
        status = 128 + stopSignal;
    } else if (output != OutputEnd::Unknown) {
        switch (engine.outcome()) {
        case RunOutcome::Completed:
        case RunOutcome::Stopped:
            status = ExitStatus::Success;
            break;
        case RunOutcome::LimitTripped:
            status = ExitStatus::LimitTripped;
            break;
        case RunOutcome::RecordingFailed:
        case RunOutcome::Aborted:
        case RunOutcome::Running:
            break;
        }
    }
    const bool failed = status != ExitStatus::Success;
    if (failed)
        WriteErr(QStringLiteral("velkaroctl: %1\n").arg(line));
    // How it went, on the standard output whatever the end: one line, or
    // under --json one object that carries the failure too.
    const RunSummary summary = engine.summary();
    if (context.Options().json) {
        QJsonObject object = summary.json();
        object.insert(QStringLiteral("exit"), status);
        if (failed)
            object.insert(QStringLiteral("error"), line);
        WriteOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
    } else {
        WriteOut(summary.text() + '\n');
    }
    return status;
}
