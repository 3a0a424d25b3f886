#include "watchrun.h"

#include "commandcontext.h"
#include "commandset.h"
#include "exitstatus.h"
#include "readingformat.h"
#include "recordingfile.h"
#include "supplysession.h"
#include "units.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <cerrno>

namespace {

QString CsvHeader(bool measure, bool power, bool address)
{
    QString header = QStringLiteral("time,elapsed_s,");
    if (address)
        header += QStringLiteral("address,");
    header += QStringLiteral("voltage_V,current_A,mode,output");
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

WatchRun::WatchRun(CommandContext &context, QFile &output, const WatchOptions &options,
                   QObject *parent)
    : QObject(parent)
    , context(context)
    , output(output)
    , options(options)
{
    // A missed sample is reported, not made up for late: one try each.
    context.Session().SetReadTries(1);
    if (context.SeveralAddresses()) {
        schedule = &context.Session().Link().Schedule();
        watchUser = schedule->NewUser();
        for (int k = 0; k < context.Options().addresses.size(); ++k) {
            failedInRow << 0;
            quiet << false;
        }
    }
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
    if (outcome != SupplyOutcome::Done) {
        *failure = QStringLiteral("%1: %2").arg(time.toString(Qt::ISODateWithMs), OutcomeWord(outcome));
        return false;
    }
    *line = Row(time, elapsed, -1, status, measurement);
    return true;
}

QString WatchRun::Row(const QDateTime &time, double elapsed, int address,
                      const StatusRecord &status, const MeasurementRecord &measurement) const
{
    const QString stamp = time.toString(Qt::ISODateWithMs);
    if (options.jsonl) {
        QJsonObject json{{QStringLiteral("time"), stamp},
                         {QStringLiteral("elapsed"), elapsed},
                         {QStringLiteral("status"), StatusJson(status)}};
        if (address >= 0)
            json.insert(QStringLiteral("address"), address);
        if (options.power)
            json.insert(QStringLiteral("power"), PowerText(status).toDouble());
        if (options.measure)
            json.insert(QStringLiteral("measurements"), MeasurementJson(measurement));
        return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + '\n';
    }
    QStringList fields{stamp, QString::number(elapsed, 'f', 3)};
    if (address >= 0)
        fields += QString::number(address);
    fields += StatusFields(status);
    if (options.power)
        fields += PowerText(status);
    if (options.measure)
        fields += MeasurementFields(measurement);
    return fields.join(',') + '\n';
}

bool WatchRun::Put(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    QString reason;
    if (!options.outputName.isEmpty()) {
        // The file, held as a recording is: at its end, through its own handle.
        const qint64 before = output.size();
        qint64 written = 0;
        if (AppendToRecordingFile(output, bytes, &written, &reason))
            return true;
        // A line is there whole or not at all: a reader must never meet half
        // a sample at the end of the file.
        QString ignored;
        if (written > 0)
            TruncateRecordingFile(output, before, &ignored);
    } else {
        const qint64 before = output.isSequential() ? -1 : output.size();
        errno = 0;
        if (output.write(bytes) == bytes.size() && output.flush())
            return true;
        // The system's reason, which Qt does not always keep for a failed flush.
        const int error = errno;
        reason = output.errorString();
        if (error != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
            reason = qt_error_string(error);
        if (before >= 0)
            output.resize(before);
    }
    WriteErr(QStringLiteral("velkaroctl: watch: cannot write %1: %2 (%3 lines written)\n")
                 .arg(options.outputName.isEmpty() ? QStringLiteral("the output") : options.outputName,
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
    const bool several = context.SeveralAddresses();
    if (!options.jsonl && options.header && !Put(CsvHeader(options.measure, options.power, several)))
        return ExitStatus::Usage;
    return several ? RunSeveral() : RunOne();
}

int WatchRun::RunOne()
{
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

bool WatchRun::SampleEach(bool *asked, int *failedAll)
{
    struct Reading {
        bool good = false;
        bool notAsked = false;
        LinkResult result = LinkResult::NoReply;
        QDateTime time;
        double elapsed = 0;
        StatusRecord status;
        MeasurementRecord measurement;
    };
    const QList<quint8> &addresses = context.Options().addresses;
    QVector<Reading> readings(addresses.size());
    *asked = false;
    for (int k = 0; k < addresses.size(); ++k) {
        LineRequest status;
        status.address = addresses.at(k);
        status.command = CommandSet::Status;
        status.access = CommandSet::AccessRead;
        status.minLength = CommandSet::StatusReply.min;
        schedule->Submit(watchUser, status, [this, k, &readings, status, asked](const LineOutcome &outcome) {
            Reading &reading = readings[k];
            reading.time = QDateTime::currentDateTimeUtc();
            reading.elapsed = double(clock.nsecsElapsed() / 1000000) / 1000.0;
            reading.notAsked = outcome.notAsked;
            reading.result = outcome.result;
            *asked = *asked || !outcome.notAsked;
            reading.good = outcome.result == LinkResult::GoodReply
                           && DeviceLink::FillStatus(outcome.reply, reading.status);
            if (!reading.good || !options.measure)
                return;
            LineRequest measure = status;
            measure.command = CommandSet::Measurements;
            measure.minLength = CommandSet::MeasurementsReply.min;
            schedule->Submit(watchUser, measure, [&reading](const LineOutcome &m) {
                reading.result = m.result;
                reading.good = m.result == LinkResult::GoodReply
                               && DeviceLink::FillMeasurements(m.reply, reading.measurement);
            });
        });
    }
    // The others' requests due before the watch's go first; those left
    // behind are made from the event loop while the watch waits.
    while (schedule->HasQueued(watchUser) && schedule->RunNext()) {
    }
    // Not made (never so outside an exchange): they must not outlive readings.
    schedule->Withdraw(watchUser);
    if (!schedule->IsIdle())
        context.Session().Link().RunScheduleSoon();

    *failedAll = 0;
    int failedCount = 0;
    for (int k = 0; k < addresses.size(); ++k) {
        const Reading &reading = readings.at(k);
        const int address = addresses.at(k);
        if (reading.good) {
            if (quiet.at(k))
                WriteErr(QStringLiteral("velkaroctl: watch: address %1 answers again\n").arg(address));
            quiet[k] = false;
            failedInRow[k] = 0;
            if (!Put(Row(reading.time, reading.elapsed, address, reading.status, reading.measurement)))
                return false;
            ++lines;
            continue;
        }
        ++failedReadings;
        ++failedInRow[k];
        if (!reading.notAsked) {
            WriteErr(QStringLiteral("velkaroctl: watch: address %1: %2: %3 (%4 in a row)\n")
                         .arg(address)
                         .arg(reading.time.toString(Qt::ISODateWithMs),
                              reading.result == LinkResult::NoReply ? QStringLiteral("no answer")
                                                                    : QStringLiteral("reply rejected"))
                         .arg(failedInRow.at(k)));
        }
        if (!quiet.at(k) && reading.notAsked) {
            quiet[k] = true;
            WriteErr(QStringLiteral("velkaroctl: watch: address %1 missed %2 requests in a row; "
                                    "asked once every %3 s until it answers\n")
                         .arg(address)
                         .arg(AddressBackoff::MissesToBackOff)
                         .arg(AddressBackoff::RetryMs / 1000));
        }
        if (failedInRow.at(k) >= options.maxFailures)
            ++failedCount;
    }
    if (failedCount == addresses.size())
        *failedAll = failedInRow.isEmpty() ? 0 : *std::min_element(failedInRow.begin(), failedInRow.end());
    return true;
}

int WatchRun::RunSeveral()
{
    int samples = 0;
    qint64 dueNs = 0;
    for (;;) {
        const qint64 endNs = options.durationNs > 0 ? options.durationNs : dueNs;
        WaitUntil(std::min(dueNs, endNs));
        if (stopping || (options.durationNs > 0 && clock.nsecsElapsed() >= options.durationNs))
            break;
        const qint64 startNs = clock.nsecsElapsed();
        bool asked = false;
        int failedAll = 0;
        if (!SampleEach(&asked, &failedAll))
            return ExitStatus::Usage;
        if (!context.PortLoss().isEmpty()) {
            WriteErr(QStringLiteral("velkaroctl: watch: the port failed: %1 (%2 lines written)\n")
                         .arg(context.PortLoss())
                         .arg(lines));
            return ExitStatus::SupplyFailed;
        }
        if (failedAll > 0) {
            WriteErr(QStringLiteral("velkaroctl: watch: stopped after %1 failed samples in a row at "
                                    "every address (%2 lines written)\n")
                         .arg(failedAll)
                         .arg(lines));
            return ExitStatus::SupplyFailed;
        }
        NoteSampleTime(clock.nsecsElapsed() - startNs);
        if (++samples == options.count)
            break;
        dueNs = options.intervalNs > 0 ? (clock.nsecsElapsed() / options.intervalNs + 1) * options.intervalNs
                                       : 0;
        // Every address backed off: nothing to ask before the first is due.
        if (!asked) {
            qint64 waitMs = -1;
            for (const quint8 address : context.Options().addresses) {
                const qint64 addressWaitMs = context.Session().Link().BackoffWaitMs(address);
                waitMs = waitMs < 0 ? addressWaitMs : std::min(waitMs, addressWaitMs);
            }
            dueNs = std::max(dueNs, clock.nsecsElapsed() + qMax<qint64>(waitMs, 1) * 1000000);
        }
    }
    if (failedReadings > 0)
        WriteErr(QStringLiteral("velkaroctl: watch: %1 lines, %2 readings missed\n")
                     .arg(lines)
                     .arg(failedReadings));
    return ExitStatus::Success;
}
