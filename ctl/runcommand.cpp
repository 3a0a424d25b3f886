// run: a program of steps (or a recording alone) with limits, charge and
// energy counters and a recording that survives a crash.

#include "commandcontext.h"
#include "commandtable.h"
#include "decimalinput.h"
#include "exitstatus.h"
#include "portchoice.h"
#include "terminationsignals.h"
#include "unattendedrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr double MaxIntervalSeconds = 86400;

}  // namespace

int RunUnattended(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Follows PROGRAM.csv step by step (or, without a program, records only), checks the limits "
        "on every reading, counts charge (Ah) and energy (Wh) and records every reading and event "
        "into FILE, synced to disk at every event and at least every 2 s; a second run on FILE is "
        "refused while this one holds it. Every end but the "
        "program's own (with --keep-output) switches the output off and confirms it, trying for "
        "--off-retry seconds while the supply does not answer; the recording's last rows say why "
        "(end, stop, limit COND, abort REASON) and how the output was left (output off, output "
        "unknown). When it ends, one line on the standard output (an object under --json) sums it "
        "up. SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the run; a closed standard output or "
        "error does not. Exit status: 0 ended or stopped; 1 the supply or the recording failed, or "
        "the output's state is unknown; 2 usage or input error, nothing sent; 3 the port could not "
        "be opened; 4 stopped by a limit; 128 + the signal's number after a signal. On a line "
        "shared with another program, that program going is recorded as port lost, then "
        "reconnected once this one or another has taken the line over (within 5 s even without "
        "--reconnect)."));
    parser.addPositionalArgument(QStringLiteral("program"), QStringLiteral("The program file (CSV)."),
                                 QStringLiteral("[PROGRAM.csv]"));
    parser.addOptions({
        {QStringLiteral("record"), QStringLiteral("The recording (CSV); required."), QStringLiteral("FILE")},
        {QStringLiteral("append"),
         QStringLiteral("Add to an existing recording (a new # block, no second header row).")},
        {QStringLiteral("interval"),
         QStringLiteral("Seconds between rows, up to 86400 (default 1; 0: a row for every reading, read "
                        "back to back). The status is read at least every second."),
         QStringLiteral("S")},
        {QStringLiteral("duration"),
         QStringLiteral("Without a program: record for this long (seconds, mm:ss or hh:mm:ss), then end."),
         QStringLiteral("S")},
        {QStringLiteral("repeat"),
         QStringLiteral("Run the program N times (default 1; 0: until stopped)."), QStringLiteral("N")},
        {QStringLiteral("limit"),
         QStringLiteral("A condition that stops the run, e.g. current>2.5 or step_charge>2 (repeatable)."),
         QStringLiteral("COND")},
        {QStringLiteral("keep-output"),
         QStringLiteral("Leave the output as it is at the end and on a stop.")},
        {QStringLiteral("reconnect"),
         QStringLiteral("Reopen a lost port by its path every second and go on; wait for a silent "
                        "supply the same way (see --reconnect-within).")},
        {QStringLiteral("max-silence"),
         QStringLiteral("Seconds without a good status reading before the run aborts (default 10; "
                        "\"no answer\" is recorded after 2 s)."),
         QStringLiteral("S")},
        {QStringLiteral("reconnect-within"),
         QStringLiteral("With --reconnect: seconds a lost port or a silent supply is waited for "
                        "before the run aborts (default 300)."),
         QStringLiteral("S")},
        {QStringLiteral("off-retry"),
         QStringLiteral("Seconds the output off is tried at an end before its state is called "
                        "unknown (default 60)."),
         QStringLiteral("S")},
    });
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return context.Fail(ExitStatus::Usage, QStringLiteral("run takes one program file at most"));

    UnattendedOptions options;
    RunSetup &setup = options.setup;
    if (!positional.isEmpty()) {
        setup.program = LoadRunProgram(positional.first());
        if (!setup.program.ok())
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("%1: %2").arg(positional.first(), setup.program.errorText()));
        setup.header.programFile = QFileInfo(positional.first()).absoluteFilePath();
    }
    setup.recordPath = parser.value(QStringLiteral("record"));
    if (setup.recordPath.isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("run wants --record FILE"));
    setup.recordMode = parser.isSet(QStringLiteral("append")) ? RunRecording::Mode::Append
                                                              : RunRecording::Mode::New;
    const QFileInfo record(setup.recordPath);
    if (setup.recordMode == RunRecording::Mode::New && record.isFile() && record.size() > 0)
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("%1 exists; add --append to add to it").arg(setup.recordPath));
    qint64 intervalMs = 1000;
    if (parser.isSet(QStringLiteral("interval"))) {
        double seconds = 0;
        if (!ParseDecimal(parser.value(QStringLiteral("interval")), &seconds) || seconds < 0)
            return context.Fail(ExitStatus::Usage, QStringLiteral("--interval wants seconds, 0 or more"));
        if (seconds > MaxIntervalSeconds)
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("--interval %1 is longer than a day; it takes %2 s at most")
                                    .arg(parser.value(QStringLiteral("interval")))
                                    .arg(MaxIntervalSeconds));
        intervalMs = std::llround(seconds * 1000);
    }
    // Rows come every --interval; the readings behind the limits and the
    // counters at least every second, since readings more than 5 s apart
    // would count no charge at all.
    RunPolicy &policy = options.policy;
    setup.recordIntervalMs = intervalMs;
    policy.readIntervalMs = std::min<qint64>(intervalMs, 1000);
    if (parser.isSet(QStringLiteral("repeat"))) {
        bool ok = false;
        setup.repeat = parser.value(QStringLiteral("repeat")).toInt(&ok);
        if (!ok || setup.repeat < 0)
            return context.Fail(ExitStatus::Usage, QStringLiteral("--repeat wants a whole number, 0 or more"));
    }
    for (const QString &text : parser.values(QStringLiteral("limit"))) {
        QString error;
        const std::optional<RunCondition> limit = ParseRunCondition(text, &error);
        if (!limit)
            return context.Fail(ExitStatus::Usage, QStringLiteral("--limit: %1").arg(error));
        setup.limits << *limit;
        setup.header.limits << limit->text();
    }
    if (parser.isSet(QStringLiteral("duration"))) {
        if (!setup.program.steps.isEmpty())
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("--duration is for a recording without a program; the "
                                               "program's steps set how long it runs"));
        const std::optional<qint64> duration = ParseRunDuration(parser.value(QStringLiteral("duration")));
        if (!duration || *duration <= 0)
            return context.Fail(ExitStatus::Usage, QStringLiteral("--duration wants a time above 0 (seconds, "
                                                                  "mm:ss or hh:mm:ss)"));
        setup.durationMs = *duration;
    }
    setup.keepOutput = parser.isSet(QStringLiteral("keep-output"));
    policy.reconnect = parser.isSet(QStringLiteral("reconnect"));
    for (const auto &[name, target, least] :
         {std::make_tuple("max-silence", &policy.maxSilenceMs, 3.0),
          std::make_tuple("reconnect-within", &policy.reconnectWithinMs, 1.0),
          std::make_tuple("off-retry", &policy.offRetryMs, 1.0)}) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option))
            continue;
        double seconds = 0;
        if (!ParseDecimal(parser.value(option), &seconds) || seconds < least || seconds > 86400)
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("--%1 wants seconds, %2 to 86400").arg(option).arg(least));
        *target = std::llround(seconds * 1000);
    }
    // Temperature limits need the measurements, which no panel reads here.
    policy.readsMeasurements = true;

    TerminationSignals termination;
    if (!termination.isValid())
        return context.Fail(ExitStatus::Usage, QStringLiteral("cannot watch for termination signals"));
    // Progress and event lines into a closed pipe are lost; the run goes on.
    TerminationSignals::ignoreBrokenPipe();
    context.EndWaitOn(&termination, QStringLiteral("run"));
    setup.header.software = QStringLiteral("velkaroctl %1").arg(QCoreApplication::applicationVersion());
    QString portError;
    setup.header.port = ChoosePortPath(context.Options().port, &portError);
    setup.header.address = context.Options().address;
    setup.header.start = QDateTime::currentDateTime();

    // The recording is held before the supply is reached: a second run on
    // the same file is refused with nothing sent.
    UnattendedRun run(context, options);
    if (const int status = run.OpenRecording())
        return status;
    context.SetDoing(QStringLiteral("run ") + QFileInfo(setup.recordPath).fileName());
    if (const int status = context.Connect()) {
        run.AbandonRecording();
        return status;
    }
    QObject::connect(&termination, &TerminationSignals::received, &run, &UnattendedRun::Stop);
    return run.Run();
}
