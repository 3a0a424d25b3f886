#include "runprogram.h"

#include "units.h"

#include <QFile>
#include <QLocale>
#include <QStringList>

#include <cmath>

namespace {

enum Column { Voltage, Current, Duration, Ramp, Output, Until, ColumnCount };
const char *const ColumnNames[ColumnCount] = {"voltage", "current", "duration",
                                              "ramp",    "output",  "until"};
constexpr bool Required[ColumnCount] = {true, true, true, false, false, false};

// The fields of one CSV line: commas separate, double quotes enclose a field
// that holds commas or quotes ("" inside is one quote). Nothing on a bad line.
std::optional<QStringList> SplitCsvLine(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char(',')) {
            fields << (wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty() && !wasQuoted) {
            field.clear();
            quoted = wasQuoted = true;
        } else if (wasQuoted) {
            if (!c.isSpace())
                return std::nullopt;
        } else {
            field += c;
        }
    }
    if (quoted)
        return std::nullopt;
    fields << (wasQuoted ? field : field.trimmed());
    return fields;
}

std::optional<double> ParseNumber(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

RunProgram Failed(int line, RunFaultKind kind, const QStringList &values = {})
{
    RunProgram program;
    program.errorLine = line;
    program.fault = {kind, values, RunFaultKind::None, {}};
    return program;
}

RunProgram Failed(int line, const RunFault &fault)
{
    RunProgram program;
    program.errorLine = line;
    program.fault = fault;
    return program;
}

}  // namespace

QString RunProgram::error() const
{
    return fault.isNone() ? QString() : RunFaultText(fault);
}

QString RunProgram::errorText() const
{
    return errorLine > 0 ? QStringLiteral("line %1: %2").arg(errorLine).arg(error()) : error();
}

std::optional<qint64> ParseRunDuration(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() > 3)
        return std::nullopt;
    // The seconds may have a fraction; minutes and hours are whole.
    const std::optional<double> seconds = ParseNumber(parts.last());
    if (!seconds || *seconds < 0 || (parts.size() > 1 && *seconds >= 60))
        return std::nullopt;
    double total = *seconds;
    for (int i = parts.size() - 2, scale = 60; i >= 0; --i, scale *= 60) {
        bool ok = false;
        const uint whole = parts.at(i).toUInt(&ok);
        if (!ok || parts.at(i).trimmed() != parts.at(i))
            return std::nullopt;
        // Minutes under an hour count stay below 60.
        if (parts.size() == 3 && i == 1 && whole >= 60)
            return std::nullopt;
        total += double(whole) * scale;
    }
    if (total > 1e9)
        return std::nullopt;
    return qint64(std::llround(total * 1000.0));
}

RunProgram ParseRunProgram(const QByteArray &utf8)
{
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = text.split(QLatin1Char('\n'));

    int columnOf[ColumnCount];
    std::fill(std::begin(columnOf), std::end(columnOf), -1);
    int columnCount = 0;
    bool haveHeader = false;
    RunProgram program;

    for (int index = 0; index < lines.size(); ++index) {
        const int lineNo = index + 1;
        QString line = lines.at(index);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const std::optional<QStringList> fields = SplitCsvLine(line);
        if (!fields)
            return Failed(lineNo, RunFaultKind::UnbalancedQuote);

        if (!haveHeader) {
            haveHeader = true;
            columnCount = fields->size();
            for (int i = 0; i < fields->size(); ++i) {
                const QString name = fields->at(i).toLower();
                int column = -1;
                for (int c = 0; c < ColumnCount; ++c)
                    if (name == QLatin1String(ColumnNames[c]))
                        column = c;
                if (column < 0)
                    return Failed(lineNo, RunFaultKind::UnknownColumn, {fields->at(i)});
                if (columnOf[column] >= 0)
                    return Failed(lineNo, RunFaultKind::ColumnTwice, {name});
                columnOf[column] = i;
            }
            for (int c = 0; c < ColumnCount; ++c)
                if (Required[c] && columnOf[c] < 0)
                    return Failed(lineNo, RunFaultKind::MissingColumn, {QLatin1String(ColumnNames[c])});
            continue;
        }

        if (fields->size() != columnCount)
            return Failed(lineNo, RunFaultKind::FieldCount,
                          {QString::number(fields->size()), QString::number(columnCount)});
        auto field = [&](Column c) { return columnOf[c] < 0 ? QString() : fields->at(columnOf[c]); };
        for (int c = 0; c < ColumnCount; ++c)
            if (Required[c] && field(Column(c)).isEmpty())
                return Failed(lineNo, RunFaultKind::NoValue, {QLatin1String(ColumnNames[c])});

        RunStep step;
        const std::optional<double> volts = ParseNumber(field(Voltage));
        if (!volts || *volts < MinSetpointVolts || *volts > MaxSetpointVolts) {
            // 0 V is what a ramp "from nothing" is written with first; the
            // supply cannot be set below its lowest set-point, so say where
            // such a ramp starts instead.
            const bool belowLowest = volts && *volts >= 0 && *volts < MinSetpointVolts;
            return Failed(lineNo, belowLowest ? RunFaultKind::VoltageBelowLowest : RunFaultKind::Voltage,
                          {field(Voltage), QString::number(MinSetpointVolts), QString::number(MaxSetpointVolts)});
        }
        step.volts = *volts;
        const std::optional<double> amperes = ParseNumber(field(Current));
        if (!amperes || *amperes < MinSetpointAmperes || *amperes > MaxSetpointAmperes)
            return Failed(lineNo, RunFaultKind::Current,
                          {field(Current), QString::number(MinSetpointAmperes), QString::number(MaxSetpointAmperes)});
        step.amperes = *amperes;
        const std::optional<qint64> duration = ParseRunDuration(field(Duration));
        if (!duration || *duration <= 0)
            return Failed(lineNo, RunFaultKind::Duration, {field(Duration)});
        step.durationMs = *duration;
        if (!field(Ramp).isEmpty()) {
            const std::optional<qint64> ramp = ParseRunDuration(field(Ramp));
            if (!ramp)
                return Failed(lineNo, RunFaultKind::RampNotTime, {field(Ramp)});
            if (*ramp > step.durationMs)
                return Failed(lineNo, RunFaultKind::RampTooLong, {field(Ramp)});
            step.rampMs = *ramp;
        }
        const QString output = field(Output).toLower();
        if (output == QLatin1String("off"))
            step.outputOn = false;
        else if (!output.isEmpty() && output != QLatin1String("on"))
            return Failed(lineNo, RunFaultKind::Output, {field(Output)});
        if (!field(Until).isEmpty()) {
            RunFault fault;
            step.until = ParseRunCondition(field(Until), &fault);
            if (!step.until)
                return Failed(lineNo, fault);
        }
        program.steps << step;
    }
    if (!haveHeader)
        return Failed(0, RunFaultKind::NoHeader);
    if (program.steps.isEmpty())
        return Failed(0, RunFaultKind::NoSteps);
    return program;
}

RunProgram LoadRunProgram(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failed(0, RunFaultKind::CannotRead, {path, file.errorString()});
    const QByteArray bytes = file.readAll();
    // A program's file is a few lines; anything huge is not one.
    if (bytes.contains('\0'))
        return Failed(0, RunFaultKind::NotText, {path});
    return ParseRunProgram(bytes);
}
