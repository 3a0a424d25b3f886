// watch: status (and measurements) at a steady interval, as CSV or JSON lines,
// until a count, a duration, too many failures, or SIGINT/SIGTERM.

#include "commandcontext.h"
#include "commandtable.h"
#include "decimalinput.h"
#include "exitstatus.h"
#include "recordingfile.h"
#include "runrecording.h"
#include "terminationsignals.h"
#include "watchrun.h"

#include <QCommandLineParser>
#include <QFile>

#include <cmath>
#include <cstdio>

namespace {

// Seconds given with a point or a comma, at least min, as nanoseconds.
bool SecondsOption(const QCommandLineParser &parser, const QString &name, double min, qint64 *ns)
{
    if (!parser.isSet(name))
        return true;
    double seconds = 0;
    if (!ParseDecimal(parser.value(name), &seconds) || seconds < min || seconds > 1e6)
        return false;
    *ns = qint64(std::llround(seconds * 1e9));
    return true;
}

bool CountOption(const QCommandLineParser &parser, const QString &name, int *count)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 1)
        return false;
    *count = value;
    return true;
}

}  // namespace

int RunWatch(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Samples the status (and with --measure the measurements) at a steady interval and writes "
        "one line per good sample, flushed at once: UTC time with milliseconds, seconds since the "
        "start, then the values. A failed sample writes no line; it is reported on the standard "
        "error. Ends with status 0 on the count, the duration, SIGINT or SIGTERM, and with status "
        "1 after --max-failures failed samples in a row.\n"
        "With several addresses (--address 1,2,5) each sample reads them in turn and writes one "
        "line per address that answered, with an address column (CSV) or field (JSON lines); an "
        "address that missed 3 requests in a row is asked once every 2 s until it answers, and "
        "the run ends on failures only when every address has failed --max-failures samples in "
        "a row."));
    parser.addOptions({
        {QStringLiteral("interval"),
         QStringLiteral("Seconds between samples (default 0.5; 0: as fast as the line allows; an "
                        "interval shorter than a sample is told once and sampled as fast as "
                        "the line allows)."),
         QStringLiteral("S")},
        {QStringLiteral("count"),
         QStringLiteral("Stop after N samples (a line each; with several addresses, a line per "
                        "address that answered)."),
         QStringLiteral("N")},
        {QStringLiteral("duration"), QStringLiteral("Stop after S seconds."), QStringLiteral("S")},
        {QStringLiteral("measure"), QStringLiteral("Add the internal measurements.")},
        {QStringLiteral("format"),
         QStringLiteral("csv (with a header line) or jsonl (default: csv; jsonl under --json)."),
         QStringLiteral("csv|jsonl")},
        {QStringLiteral("output"), QStringLiteral("Write to FILE instead of the standard output."),
         QStringLiteral("FILE")},
        {QStringLiteral("append"),
         QStringLiteral("Add to the end of the --output FILE; a CSV header only if it is empty.")},
        {QStringLiteral("power"), QStringLiteral("Add the output power (power_W), volts times amperes.")},
        {QStringLiteral("max-failures"),
         QStringLiteral("Stop after N failed samples in a row (default 10)."), QStringLiteral("N")},
    });
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("watch takes options only"));

    WatchOptions options;
    options.measure = parser.isSet(QStringLiteral("measure"));
    options.power = parser.isSet(QStringLiteral("power"));
    const bool append = parser.isSet(QStringLiteral("append"));
    options.jsonl = context.Options().json;
    if (parser.isSet(QStringLiteral("format"))) {
        const QString format = parser.value(QStringLiteral("format"));
        if (format != QLatin1String("csv") && format != QLatin1String("jsonl"))
            return context.Fail(ExitStatus::Usage, QStringLiteral("--format wants csv or jsonl"));
        options.jsonl = format == QLatin1String("jsonl");
    }
    if (!SecondsOption(parser, QStringLiteral("interval"), 0, &options.intervalNs))
        return context.Fail(ExitStatus::Usage, QStringLiteral("--interval wants seconds, 0 or more"));
    if (!SecondsOption(parser, QStringLiteral("duration"), 0.001, &options.durationNs))
        return context.Fail(ExitStatus::Usage, QStringLiteral("--duration wants seconds above 0"));
    if (!CountOption(parser, QStringLiteral("count"), &options.count))
        return context.Fail(ExitStatus::Usage, QStringLiteral("--count wants a whole number above 0"));
    if (!CountOption(parser, QStringLiteral("max-failures"), &options.maxFailures))
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("--max-failures wants a whole number above 0"));

    QFile output;
    const QString path = parser.value(QStringLiteral("output"));
    if (append && path.isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("--append wants --output FILE"));
    options.outputName = path;
    if (path.isEmpty()) {
        if (!output.open(stdout, QIODevice::WriteOnly))
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("cannot write the standard output: %1").arg(output.errorString()));
    } else {
        // A file has one writer, as a run's recording has: held with the same
        // lock for the whole watch, and cut back (without --append) only once
        // held. Each line goes to the system whole in one write, so that a
        // failure is met at that line with the system's reason.
        QString reason;
        switch (OpenRecordingFile(output, path, &reason)) {
        case RecordingFileOpen::Done:
            break;
        case RecordingFileOpen::InUse:
            return context.Fail(ExitStatus::Usage, RunRecording::InUseMessage(path));
        case RecordingFileOpen::Failed:
            return context.Fail(ExitStatus::Usage, QStringLiteral("cannot write %1: %2").arg(path, reason));
        }
        if (!append && output.size() > 0 && !TruncateRecordingFile(output, 0, &reason))
            return context.Fail(ExitStatus::Usage, QStringLiteral("cannot write %1: %2").arg(path, reason));
    }
    options.header = !append || output.size() == 0;

    TerminationSignals termination;
    if (!termination.isValid())
        return context.Fail(ExitStatus::Usage, QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    context.EndWaitOn(&termination, QStringLiteral("watch"));
    if (const int status = context.Connect())
        return status;
    WatchRun run(context, output, options);
    QObject::connect(&termination, &TerminationSignals::received, &run, &WatchRun::Stop);
    return run.Run();
}
