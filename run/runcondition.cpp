#include "runcondition.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

struct QuantityName {
    const char *name;
    RunQuantity quantity;
};

constexpr QuantityName Quantities[] = {
    {"voltage", RunQuantity::Voltage}, {"current", RunQuantity::Current},
    {"power", RunQuantity::Power},     {"temperature", RunQuantity::Temperature},
    {"charge", RunQuantity::Charge},   {"energy", RunQuantity::Energy},
    {"elapsed", RunQuantity::Elapsed}, {"step_elapsed", RunQuantity::StepElapsed},
    {"step_charge", RunQuantity::StepCharge}, {"step_energy", RunQuantity::StepEnergy},
};

// What the quantity can be on this supply; a condition outside it never
// holds, or always does, and is a mistake either way.
struct QuantityRange {
    double lowest;
    double highest;
    const char *unit;
};

std::optional<QuantityRange> RangeOf(RunQuantity quantity)
{
    constexpr double Unbounded = std::numeric_limits<double>::infinity();
    switch (quantity) {
    case RunQuantity::Voltage: return QuantityRange{0, 30, "V"};
    case RunQuantity::Current: return QuantityRange{0, 10, "A"};
    case RunQuantity::Power: return QuantityRange{0, 300, "W"};
    case RunQuantity::Temperature: return std::nullopt;
    case RunQuantity::Charge:
    case RunQuantity::StepCharge: return QuantityRange{0, Unbounded, "Ah"};
    case RunQuantity::Energy:
    case RunQuantity::StepEnergy: return QuantityRange{0, Unbounded, "Wh"};
    case RunQuantity::Elapsed:
    case RunQuantity::StepElapsed: return QuantityRange{0, Unbounded, "s"};
    }
    return std::nullopt;
}

}  // namespace

RunFault ImplausibleRunCondition(const RunCondition &c)
{
    QString name;
    for (const QuantityName &q : Quantities)
        if (q.quantity == c.quantity)
            name = QLatin1String(q.name);
    const std::optional<QuantityRange> range = RangeOf(c.quantity);
    if (!range)
        return {};
    const QString value = QString::number(c.value, 'g', 12);
    const QString unit = QLatin1String(range->unit);
    const QString lowest = QString::number(range->lowest);
    const QString highest = QString::number(range->highest);
    if (c.value < range->lowest) {
        return std::isinf(range->highest)
                   ? RunFault{RunFaultKind::NeverNegative, {name}, RunFaultKind::None, {}}
                   : RunFault{RunFaultKind::OutsideRange, {name, value, unit, lowest, highest}, RunFaultKind::None, {}};
    }
    if (c.value > range->highest)
        return {RunFaultKind::BeyondRange, {name, value, unit, highest}, RunFaultKind::None, {}};
    if (c.comparison == RunComparison::Less && c.value <= range->lowest)
        return {RunFaultKind::NeverBelow, {name, lowest, unit}, RunFaultKind::None, {}};
    return {};
}

namespace {

const char *ComparisonText(RunComparison c)
{
    switch (c) {
    case RunComparison::Less: return "<";
    case RunComparison::LessOrEqual: return "<=";
    case RunComparison::Greater: return ">";
    case RunComparison::GreaterOrEqual: return ">=";
    }
    return "?";
}

}  // namespace

bool RunCondition::holds(const RunQuantities &q) const
{
    double actual = 0;
    switch (quantity) {
    case RunQuantity::Voltage: actual = q.volts; break;
    case RunQuantity::Current: actual = q.amperes; break;
    case RunQuantity::Power: actual = q.watts; break;
    case RunQuantity::Temperature:
        if (!q.celsius)
            return false;
        actual = *q.celsius;
        break;
    case RunQuantity::Charge: actual = q.ampereHours; break;
    case RunQuantity::Energy: actual = q.wattHours; break;
    case RunQuantity::Elapsed: actual = q.elapsedSeconds; break;
    case RunQuantity::StepElapsed: actual = q.stepElapsedSeconds; break;
    case RunQuantity::StepCharge: actual = q.stepAmpereHours; break;
    case RunQuantity::StepEnergy: actual = q.stepWattHours; break;
    }
    switch (comparison) {
    case RunComparison::Less: return actual < value;
    case RunComparison::LessOrEqual: return actual <= value;
    case RunComparison::Greater: return actual > value;
    case RunComparison::GreaterOrEqual: return actual >= value;
    }
    return false;
}

QString RunCondition::text() const
{
    QString name;
    for (const QuantityName &q : Quantities)
        if (q.quantity == quantity)
            name = QLatin1String(q.name);
    return name + QLatin1String(ComparisonText(comparison)) + QString::number(value, 'g', 12);
}

std::optional<RunCondition> ParseRunCondition(const QString &text, RunFault *fault)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([A-Za-z_]+)\\s*(<=|>=|<|>)\\s*(\\S+)\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        *fault = {RunFaultKind::ConditionForm, {text.trimmed()}, RunFaultKind::None, {}};
        return std::nullopt;
    }
    RunCondition condition;
    const QString name = m.captured(1).toLower();
    bool known = false;
    for (const QuantityName &q : Quantities) {
        if (name == QLatin1String(q.name)) {
            condition.quantity = q.quantity;
            known = true;
        }
    }
    if (!known) {
        *fault = {RunFaultKind::UnknownQuantity, {m.captured(1)}, RunFaultKind::None, {}};
        return std::nullopt;
    }
    const QString op = m.captured(2);
    condition.comparison = op == QLatin1String("<")    ? RunComparison::Less
                           : op == QLatin1String("<=") ? RunComparison::LessOrEqual
                           : op == QLatin1String(">")  ? RunComparison::Greater
                                                       : RunComparison::GreaterOrEqual;
    bool ok = false;
    condition.value = QLocale::c().toDouble(m.captured(3), &ok);
    if (!ok || !std::isfinite(condition.value)) {
        *fault = {RunFaultKind::ConditionNumber, {m.captured(3), text.trimmed()}, RunFaultKind::None, {}};
        return std::nullopt;
    }
    const RunFault implausible = ImplausibleRunCondition(condition);
    if (!implausible.isNone()) {
        *fault = {RunFaultKind::ConditionRefused, {text.trimmed()}, implausible.kind, implausible.values};
        return std::nullopt;
    }
    return condition;
}

std::optional<RunCondition> ParseRunCondition(const QString &text, QString *error)
{
    RunFault fault;
    const std::optional<RunCondition> condition = ParseRunCondition(text, &fault);
    *error = RunFaultText(fault);
    return condition;
}
