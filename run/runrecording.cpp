#include "runrecording.h"

#include "filesync.h"
#include "units.h"

const QByteArray RunRecording::HeaderRow =
    "time,elapsed_s,voltage_V,current_A,power_W,mode,output,voltage_set_V,current_set_A,"
    "charge_Ah,energy_Wh,step,event\n";

namespace {

QByteArray Decimal(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

QByteArray CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text.toUtf8();
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return '"' + quoted.toUtf8() + '"';
}

// The first line that is neither blank nor a comment, with its line end.
std::optional<QByteArray> HeaderRowOf(QFile &file)
{
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        return line;
    }
    return std::nullopt;
}

}  // namespace

QByteArray RunRecording::FormatRow(const RecordingRow &row)
{
    QByteArrayList f;
    f << row.time.toUTC().toString(Qt::ISODateWithMs).toLatin1() << Decimal(row.elapsedMs / 1000.0, 3);
    if (row.status) {
        const StatusRecord &s = *row.status;
        const double volts = OutputVolts(s);
        const double amperes = OutputAmperes(s);
        f << Decimal(volts, 2) << Decimal(amperes, OutputAmperesDecimals(s))
          << Decimal(volts * amperes, 4)
          << ModeName(s) << (s.OutputOn != 0 ? "on" : "off");
    } else {
        f << "" << "" << "" << "" << "";
    }
    if (row.setpoints)
        f << Decimal(SetpointVolts(*row.setpoints), 3) << Decimal(SetpointAmperes(*row.setpoints), 3);
    else
        f << "" << "";
    f << Decimal(row.ampereHours, 6) << Decimal(row.wattHours, 6)
      << (row.step > 0 ? QByteArray::number(row.step) : QByteArray()) << CsvField(row.event);
    return f.join(',') + '\n';
}

bool RunRecording::fail(const QString &what)
{
    error = QStringLiteral("%1: %2").arg(file.fileName(), what);
    return false;
}

bool RunRecording::open(const QString &path, Mode mode, const RecordingHeader &header, qint64 nowMs)
{
    error.clear();
    file.setFileName(path);
    bool needHeaderRow = true;
    bool needLineEnd = false;
    if (mode == Mode::Append && file.exists() && file.size() > 0) {
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
        const std::optional<QByteArray> existing = HeaderRowOf(file);
        // A row cut short by a crash before its line end must not swallow
        // the first new line.
        needLineEnd = file.seek(file.size() - 1) && file.read(1) != "\n";
        file.close();
        if (!existing)
            return fail(QStringLiteral("has no header row; not a recording to append to"));
        if (*existing != HeaderRow)
            return fail(QStringLiteral("its header row differs; not a recording to append to"));
        needHeaderRow = false;
    }
    const QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                         (mode == Mode::Append ? QIODevice::Append : QIODevice::Truncate);
    if (!file.open(openMode))
        return fail(file.errorString());
    goodSize = file.size();

    QByteArray block;
    if (needLineEnd)
        block += '\n';
    block += "# " + header.software.toUtf8() + '\n';
    block += "# port: " + header.port.toUtf8() + '\n';
    block += "# address: " + QByteArray::number(header.address) + '\n';
    // The offset always in digits, "+00:00" included, never "Z".
    const int offset = header.start.offsetFromUtc();
    const QDateTime local = header.start.toOffsetFromUtc(offset);
    block += "# start: " +
             local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1() +
             (offset < 0 ? '-' : '+') +
             QTime(0, 0).addSecs(qAbs(offset)).toString(QStringLiteral("HH:mm")).toLatin1() + '\n';
    block += "# program file: " +
             (header.programFile.isEmpty() ? QByteArray("none") : header.programFile.toUtf8()) + '\n';
    block += "# limits: " +
             (header.limits.isEmpty() ? QByteArray("none") : header.limits.join(QLatin1String("; ")).toUtf8()) +
             '\n';
    if (needHeaderRow)
        block += HeaderRow;
    if (!writeWhole(block) || !sync(nowMs)) {
        file.close();
        return false;
    }
    return true;
}

bool RunRecording::writeWhole(const QByteArray &bytes)
{
    if (!file.isOpen())
        return fail(QStringLiteral("the recording is closed"));
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        const QString reason = file.errorString();
        // Take a partial row back, so that the file still ends on a whole row.
        if (written != 0)
            file.resize(goodSize);
        return fail(reason.isEmpty() ? QStringLiteral("short write") : reason);
    }
    goodSize += written;
    unsynced = true;
    return true;
}

bool RunRecording::sync(qint64 nowMs)
{
    if (!SyncFileToDisk(file))
        return fail(QStringLiteral("cannot sync to disk"));
    unsynced = false;
    lastSyncMs = nowMs;
    return true;
}

bool RunRecording::write(const RecordingRow &row, qint64 nowMs, bool isEvent)
{
    if (!writeWhole(FormatRow(row)))
        return false;
    if (isEvent || nowMs - lastSyncMs >= SyncPeriodMs)
        return sync(nowMs);
    return true;
}

bool RunRecording::syncIfDue(qint64 nowMs)
{
    if (!unsynced || !file.isOpen() || nowMs - lastSyncMs < SyncPeriodMs)
        return true;
    return sync(nowMs);
}

std::optional<qint64> RunRecording::syncDueMs() const
{
    if (!unsynced || !file.isOpen())
        return std::nullopt;
    return lastSyncMs + SyncPeriodMs;
}

void RunRecording::close()
{
    if (file.isOpen()) {
        if (unsynced)
            SyncFileToDisk(file);
        file.close();
    }
}
