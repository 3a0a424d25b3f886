#include "runrecording.h"

#include "filesync.h"
#include "recordingfile.h"
#include "units.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

const QByteArray RunRecording::HeaderRow =
    "time,elapsed_s,voltage_V,current_A,power_W,mode,output,voltage_set_V,current_set_A,"
    "charge_Ah,energy_Wh,step,event,temperature_C,pass\n";
const QByteArray RunRecording::OlderHeaderRow =
    "time,elapsed_s,voltage_V,current_A,power_W,mode,output,voltage_set_V,current_set_A,"
    "charge_Ah,energy_Wh,step,event\n";
const QByteArray RunRecording::CutRowMark = "# cut short by an earlier crash: ";

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

// The longest last line looked at for a row cut short; a row is a few
// hundred bytes.
constexpr qint64 TailBytes = 64 * 1024;

// The first whole line that is neither blank nor a comment, with its line end.
std::optional<QByteArray> HeaderRowOf(QFile &file)
{
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break;
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        return line;
    }
    return std::nullopt;
}

// The writer named by the last "# pid:" line and the block's first line
// before it ("# velkaroctl 1.1"): the one that holds the file now.
RecordingHolder HolderOf(const QString &path)
{
    RecordingHolder holder;
    QFile reader(path);
    if (!reader.open(QIODevice::ReadOnly))
        return holder;
    QByteArray previous;
    while (!reader.atEnd()) {
        const QByteArray line = reader.readLine().trimmed();
        if (line.startsWith("# pid: ")) {
            holder.pid = line.mid(7).toLongLong();
            holder.program = previous.startsWith("# ") ? QString::fromUtf8(previous.mid(2).split(' ').first())
                                                       : QString();
        }
        previous = line;
    }
    return holder;
}

QString SystemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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
      << (row.step > 0 ? QByteArray::number(row.step) : QByteArray()) << CsvField(row.event)
      << (row.celsius ? Decimal(*row.celsius, 1) : QByteArray())
      << (row.pass > 0 ? QByteArray::number(row.pass) : QByteArray());
    return f.join(',') + '\n';
}

QString RunRecording::InUseMessage(const QString &path, std::optional<RecordingHolder> *holder)
{
    const RecordingHolder by = HolderOf(path);
    if (holder)
        *holder = by;
    return by.program.isEmpty() ? QStringLiteral("the recording %1 is in use by another program").arg(path)
                                : QStringLiteral("the recording %1 is in use by %2 (pid %3)")
                                      .arg(path, by.program)
                                      .arg(by.pid);
}

bool RunRecording::fail(const QString &what)
{
    error = QStringLiteral("%1: %2").arg(path, what);
    return false;
}

bool RunRecording::open(const QString &recordPath, Mode mode, const RecordingHeader &header, qint64 nowMs)
{
    error.clear();
    heldBy.reset();
    path = recordPath;
    created = !QFileInfo::exists(path);
    QString reason;
    switch (OpenRecordingFile(file, path, &reason)) {
    case RecordingFileOpen::Done:
        break;
    case RecordingFileOpen::InUse:
        error = InUseMessage(path, &heldBy);
        return false;
    case RecordingFileOpen::Failed:
        return fail(reason);
    }
    goodSize = file.size();
    bool needHeaderRow = true;
    if (mode == Mode::Append && goodSize > 0) {
        if (!prepareAppend()) {
            file.close();
            return false;
        }
        needHeaderRow = false;
    } else if (goodSize > 0) {
        // Replacing: only now that the file is held, never under another writer.
        if (!TruncateRecordingFile(file, 0, &reason)) {
            file.close();
            return fail(reason);
        }
        goodSize = 0;
    }

    sizeBeforeBlock = goodSize;
    QByteArray block;
    block += "# " + header.software.toUtf8() + '\n';
    // Who writes, for a second writer to be told.
    block += "# pid: " + QByteArray::number(QCoreApplication::applicationPid()) + '\n';
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

bool RunRecording::prepareAppend()
{
    QFile reader(path);
    if (!reader.open(QIODevice::ReadOnly))
        return fail(reader.errorString());
    const std::optional<QByteArray> existing = HeaderRowOf(reader);
    if (!existing)
        return fail(QStringLiteral("has no header row; not a recording to append to"));
    if (*existing == OlderHeaderRow)
        return fail(QStringLiteral("its columns are the older layout, without temperature_C and pass after "
                                   "event; start a new recording"));
    if (*existing != HeaderRow)
        return fail(QStringLiteral("its header row differs; not a recording to append to"));

    // A last line without its line end is what a crash left of a row: kept
    // as a comment, never completed into a row of wrong values.
    const qint64 size = reader.size();
    const qint64 from = std::max<qint64>(0, size - TailBytes);
    if (!reader.seek(from))
        return fail(reader.errorString());
    const QByteArray tail = reader.readAll();
    if (tail.size() != size - from)
        return fail(reader.errorString());
    if (tail.endsWith('\n'))
        return true;
    const int cutStart = tail.lastIndexOf('\n') + 1;
    if (cutStart == 0 && from > 0)
        return fail(QStringLiteral("its last line is far longer than a row; not a recording to append to"));
    const QByteArray cut = tail.mid(cutStart);
    QString reason;
    if (!TruncateRecordingFile(file, size - cut.size(), &reason))
        return fail(reason);
    goodSize = size - cut.size();
    return writeWhole(CutRowMark + cut + '\n');
}

bool RunRecording::writeWhole(const QByteArray &bytes)
{
    if (!file.isOpen())
        return fail(QStringLiteral("the recording is closed"));
    qint64 written = 0;
    QString reason;
    if (!AppendToRecordingFile(file, bytes, &written, &reason)) {
        // Take a partial row back, so that the file still ends on a whole row.
        QString ignored;
        if (written != 0)
            TruncateRecordingFile(file, goodSize, &ignored);
        return fail(reason);
    }
    goodSize += written;
    unsynced = true;
    return true;
}

bool RunRecording::sync(qint64 nowMs)
{
    if (!SyncFileToDisk(file))
        return fail(QStringLiteral("cannot sync to disk: %1").arg(SystemWords(errno)));
    unsynced = false;
    lastSyncMs = nowMs;
    return true;
}

bool RunRecording::writeComment(const QString &text, qint64 nowMs)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return writeWhole("# " + line.toUtf8() + '\n') && sync(nowMs);
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

void RunRecording::abandon()
{
    if (!file.isOpen())
        return;
    QString ignored;
    if (!created)
        TruncateRecordingFile(file, sizeBeforeBlock, &ignored);
    file.close();
    if (created)
        QFile::remove(path);
}

void RunRecording::close()
{
    if (file.isOpen()) {
        if (unsynced)
            SyncFileToDisk(file);
        file.close();
    }
}
