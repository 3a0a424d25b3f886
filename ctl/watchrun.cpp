#include "watchrun.h"

#include "commandcontext.h"
#include "exitstatus.h"
#include "readingformat.h"
#include "supplysession.h"
#include "units.h"

#include <QDateTime>
#include <QFileDevice>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <cerrno>

namespace {

QString CsvHeader(bool measure, bool power)
{
    QString header = QStringLiteral("time,elapsed_s,voltage_V,current_A,mode,output");
    if (power)
        header += QStringLiteral(",power_W");
    if (measure)
        header += QStringLiteral(",measured_voltage_V,measured_current_A,temperature_C,input_V,pwm_V,"
                                 "reference_V");
    return header + '\n';
}

QString OutcomeWord(SupplyOutcome outcome)
{
    return outcome == SupplyOutcome::NoReply ? QStringLiteral("no answer")
                                             : QStringLiteral("reply rejected");
}

// Volts times amperes, to the milliwatt.
QString PowerText(const StatusRecord &status)
{
    return QString::number(OutputVolts(status) * OutputAmperes(status), 'f', 3);
}

}  // namespace

WatchRun::WatchRun(CommandContext &context, QFileDevice &output, const WatchOptions &options,
                   QObject *parent)
    : QObject(parent)
    , context(context)
    , output(output)
    , options(options)
{
    // A missed sample is reported, not made up for late: one try each.
    context.Session().SetReadTries(1);
}

void WatchRun::Stop()
{
    stopping = true;
    waiting.quit();
}

void WatchRun::WaitUntil(qint64 dueNs)
{
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    connect(&wake, &QTimer::timeout, &waiting, &QEventLoop::quit);
    for (;;) {
        const qint64 leftNs = dueNs - clock.nsecsElapsed();
        if (stopping || leftNs <= 0)
            return;
        wake.start(int((leftNs + 999999) / 1000000));
        waiting.exec();
    }
}

bool WatchRun::Sample(QString *line, QString *failure)
{
    const QDateTime time = QDateTime::currentDateTimeUtc();
    const double elapsed = double(clock.nsecsElapsed() / 1000000) / 1000.0;
    StatusRecord status;
    MeasurementRecord measurement;
    SupplySession &session = context.Session();
    SupplyOutcome outcome = session.ReadStatus(status);
    if (outcome == SupplyOutcome::Done && options.measure)
        outcome = session.ReadMeasurements(measurement);
    const QString stamp = time.toString(Qt::ISODateWithMs);
    if (outcome != SupplyOutcome::Done) {
        *failure = QStringLiteral("%1: %2").arg(stamp, OutcomeWord(outcome));
        return false;
    }
    if (options.jsonl) {
        QJsonObject json{{QStringLiteral("time"), stamp},
                         {QStringLiteral("elapsed"), elapsed},
                         {QStringLiteral("status"), StatusJson(status)}};
        if (options.power)
            json.insert(QStringLiteral("power"), PowerText(status).toDouble());
        if (options.measure)
            json.insert(QStringLiteral("measurements"), MeasurementJson(measurement));
        *line = QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + '\n';
        return true;
    }
    QStringList fields{stamp, QString::number(elapsed, 'f', 3)};
    fields += StatusFields(status);
    if (options.power)
        fields += PowerText(status);
    if (options.measure)
        fields += MeasurementFields(measurement);
    *line = fields.join(',') + '\n';
    return true;
}

bool WatchRun::Put(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    const qint64 before = output.isSequential() ? -1 : output.size();
    errno = 0;
    if (output.write(bytes) == bytes.size() && output.flush())
        return true;
    // The system's reason, which Qt does not always keep for a failed flush.
    const int error = errno;
    QString reason = output.errorString();
    if (error != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
        reason = qt_error_string(error);
    // A line is there whole or not at all: a reader must never meet half a
    // sample at the end of the file.
    if (before >= 0)
        output.resize(before);
    WriteErr(QStringLiteral("velkaroctl: watch: cannot write %1: %2 (%3 lines written)\n")
                 .arg(output.fileName().isEmpty() ? QStringLiteral("the output") : output.fileName(),
                      reason)
                 .arg(lines));
    return false;
}

void WatchRun::NoteSampleTime(qint64 sampleNs)
{
    if (options.intervalNs == 0 || sampleNs <= options.intervalNs)
        return;
    WriteErr(QStringLiteral("velkaroctl: watch: a sample takes %1 ms, longer than --interval; "
                            "sampling as fast as the line allows\n")
                 .arg(sampleNs / 1000000));
    options.intervalNs = 0;
}

int WatchRun::Run()
{
    clock.start();
    if (!options.jsonl && options.header && !Put(CsvHeader(options.measure, options.power)))
        return ExitStatus::Usage;
    int failedInRow = 0;
    int failed = 0;
    qint64 dueNs = 0;
    for (;;) {
        const qint64 endNs = options.durationNs > 0 ? options.durationNs : dueNs;
        WaitUntil(std::min(dueNs, endNs));
        if (stopping || (options.durationNs > 0 && clock.nsecsElapsed() >= options.durationNs))
            break;
        QString line;
        QString failure;
        const qint64 startNs = clock.nsecsElapsed();
        if (Sample(&line, &failure)) {
            NoteSampleTime(clock.nsecsElapsed() - startNs);
            failedInRow = 0;
            if (!Put(line))
                return ExitStatus::Usage;
            if (++lines == options.count)
                break;
        } else {
            ++failed;
            ++failedInRow;
            // A port that went away does not come back.
            if (!context.PortLoss().isEmpty()) {
                WriteErr(QStringLiteral("velkaroctl: watch: the port failed: %1 (%2 lines written)\n")
                             .arg(context.PortLoss())
                             .arg(lines));
                return ExitStatus::SupplyFailed;
            }
            WriteErr(QStringLiteral("velkaroctl: watch: %1 (%2 in a row; stops at %3)\n")
                         .arg(failure)
                         .arg(failedInRow)
                         .arg(options.maxFailures));
            if (failedInRow >= options.maxFailures) {
                WriteErr(QStringLiteral("velkaroctl: watch: stopped after %1 failed samples in a row "
                                        "(%2 lines written)\n")
                             .arg(failedInRow)
                             .arg(lines));
                return ExitStatus::SupplyFailed;
            }
        }
        // The next slot that has not begun yet.
        dueNs = options.intervalNs > 0 ? (clock.nsecsElapsed() / options.intervalNs + 1) * options.intervalNs
                                       : 0;
    }
    if (failed > 0)
        WriteErr(QStringLiteral("velkaroctl: watch: %1 lines, %2 failed samples\n").arg(lines).arg(failed));
    return ExitStatus::Success;
}
