#include "runcondition.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

struct QuantityName {
    const char *name;
    RunQuantity quantity;
};

constexpr QuantityName Quantities[] = {
    {"voltage", RunQuantity::Voltage}, {"current", RunQuantity::Current},
    {"power", RunQuantity::Power},     {"temperature", RunQuantity::Temperature},
    {"charge", RunQuantity::Charge},   {"energy", RunQuantity::Energy},
    {"elapsed", RunQuantity::Elapsed},
};

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

std::optional<RunCondition> ParseRunCondition(const QString &text, QString *error)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([A-Za-z]+)\\s*(<=|>=|<|>)\\s*(\\S+)\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        *error = QStringLiteral("condition \"%1\" is not QUANTITY OP NUMBER (OP one of < <= > >=)")
                     .arg(text.trimmed());
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
        *error = QStringLiteral("unknown quantity \"%1\" (voltage, current, power, temperature, "
                                "charge, energy or elapsed)")
                     .arg(m.captured(1));
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
        *error = QStringLiteral("\"%1\" in condition \"%2\" is not a number")
                     .arg(m.captured(3), text.trimmed());
        return std::nullopt;
    }
    return condition;
}
