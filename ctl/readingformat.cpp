#include "readingformat.h"

#include "units.h"

#include <QJsonValue>

#include <cmath>

namespace {

// The JSON value of a reading: the decimal the supply reported, not its
// nearest binary neighbour's long expansion.
double Rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

int AmperesDecimals(const StatusRecord &status)
{
    return OutputAmperesDecimals(status);
}

}  // namespace

QString DecimalText(double volts, int decimals)
{
    return QString::number(volts, 'f', decimals);
}

QString StatusAmperesText(const StatusRecord &status)
{
    return QString::number(OutputAmperes(status), 'f', AmperesDecimals(status));
}

QString ModeText(const StatusRecord &status)
{
    return QString::fromLatin1(ModeName(status));
}

QStringList StatusFields(const StatusRecord &status)
{
    return {DecimalText(OutputVolts(status), 2), StatusAmperesText(status), ModeText(status),
            status.OutputOn != 0 ? QStringLiteral("on") : QStringLiteral("off")};
}

OutputRows StatusRows(const StatusRecord &status)
{
    const QStringList f = StatusFields(status);
    return {{QStringLiteral("voltage"), f[0] + QStringLiteral(" V")},
            {QStringLiteral("current"), f[1] + QStringLiteral(" A")},
            {QStringLiteral("mode"), f[2]},
            {QStringLiteral("output"), f[3]}};
}

QJsonObject StatusJson(const StatusRecord &status)
{
    const QString mode = ModeText(status);
    return {{QStringLiteral("voltage"), Rounded(OutputVolts(status), 2)},
            {QStringLiteral("current"), Rounded(OutputAmperes(status), AmperesDecimals(status))},
            {QStringLiteral("mode"), mode == QLatin1String("-") ? QJsonValue() : QJsonValue(mode)},
            {QStringLiteral("output"), status.OutputOn != 0}};
}

QStringList MeasurementFields(const MeasurementRecord &m)
{
    return {DecimalText(MeasuredVolts(m), 3),   DecimalText(MeasuredAmperes(m), 3),
            DecimalText(MeasuredCelsius(m), 1), DecimalText(InputVolts(m), 3),
            DecimalText(PwmVolts(m), 3),        DecimalText(ReferenceVolts(m), 3)};
}

OutputRows MeasurementRows(const MeasurementRecord &measurement)
{
    const QStringList f = MeasurementFields(measurement);
    return {{QStringLiteral("voltage"), f[0] + QStringLiteral(" V")},
            {QStringLiteral("current"), f[1] + QStringLiteral(" A")},
            {QStringLiteral("temperature"), f[2] + QStringLiteral(" °C")},
            {QStringLiteral("input"), f[3] + QStringLiteral(" V")},
            {QStringLiteral("pwm"), f[4] + QStringLiteral(" V")},
            {QStringLiteral("reference"), f[5] + QStringLiteral(" V")}};
}

QJsonObject MeasurementJson(const MeasurementRecord &m)
{
    return {{QStringLiteral("voltage"), Rounded(MeasuredVolts(m), 3)},
            {QStringLiteral("current"), Rounded(MeasuredAmperes(m), 3)},
            {QStringLiteral("temperature"), Rounded(MeasuredCelsius(m), 1)},
            {QStringLiteral("input"), Rounded(InputVolts(m), 3)},
            {QStringLiteral("pwm"), Rounded(PwmVolts(m), 3)},
            {QStringLiteral("reference"), Rounded(ReferenceVolts(m), 3)}};
}

OutputRows SetpointRows(const SetpointRecord &setpoints)
{
    return {{QStringLiteral("voltage set"), DecimalText(SetpointVolts(setpoints), 3) + QStringLiteral(" V")},
            {QStringLiteral("current set"), DecimalText(SetpointAmperes(setpoints), 3) + QStringLiteral(" A")}};
}

QJsonObject SetpointJson(const SetpointRecord &setpoints)
{
    return {{QStringLiteral("voltageSet"), Rounded(SetpointVolts(setpoints), 3)},
            {QStringLiteral("currentSet"), Rounded(SetpointAmperes(setpoints), 3)}};
}
