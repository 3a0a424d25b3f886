#include "runfault.h"

namespace {

QString Template(RunFaultKind kind)
{
    switch (kind) {
    case RunFaultKind::None: return {};
    case RunFaultKind::CannotRead: return QStringLiteral("cannot read %1: %2");
    case RunFaultKind::NotText: return QStringLiteral("%1 is not a text file");
    case RunFaultKind::UnbalancedQuote: return QStringLiteral("unbalanced double quote");
    case RunFaultKind::UnknownColumn: return QStringLiteral("unknown column \"%1\"");
    case RunFaultKind::ColumnTwice: return QStringLiteral("column \"%1\" appears twice");
    case RunFaultKind::MissingColumn: return QStringLiteral("the header lacks the column \"%1\"");
    case RunFaultKind::FieldCount: return QStringLiteral("%1 fields where the header has %2");
    case RunFaultKind::NoValue: return QStringLiteral("no value for \"%1\"");
    case RunFaultKind::Voltage: return QStringLiteral("voltage \"%1\" is not a number from %2 to %3 V");
    case RunFaultKind::VoltageBelowLowest:
        return QStringLiteral("voltage \"%1\" is not a number from %2 to %3 V; %2 V is the supply's lowest "
                              "set-point, so a ramp from 0 starts at %2");
    case RunFaultKind::Current: return QStringLiteral("current \"%1\" is not a number from %2 to %3 A");
    case RunFaultKind::Duration:
        return QStringLiteral("duration \"%1\" is not a time above 0 (seconds, mm:ss or hh:mm:ss)");
    case RunFaultKind::RampNotTime: return QStringLiteral("ramp \"%1\" is not a time (seconds, mm:ss or hh:mm:ss)");
    case RunFaultKind::RampTooLong: return QStringLiteral("ramp \"%1\" is longer than the step's duration");
    case RunFaultKind::Output: return QStringLiteral("output \"%1\" is neither on nor off");
    case RunFaultKind::NoHeader: return QStringLiteral("the program has no header row");
    case RunFaultKind::NoSteps: return QStringLiteral("the program has no steps");
    case RunFaultKind::ConditionForm:
        return QStringLiteral("condition \"%1\" is not QUANTITY OP NUMBER (OP one of < <= > >=)");
    case RunFaultKind::UnknownQuantity:
        return QStringLiteral("unknown quantity \"%1\" (voltage, current, power, temperature, charge, energy, "
                              "elapsed, step_charge, step_energy or step_elapsed)");
    case RunFaultKind::ConditionNumber: return QStringLiteral("\"%1\" in condition \"%2\" is not a number");
    case RunFaultKind::ConditionRefused: return QStringLiteral("condition \"%1\" is refused: %2");
    case RunFaultKind::NeverNegative: return QStringLiteral("%1 is never negative");
    case RunFaultKind::OutsideRange: return QStringLiteral("%1 %2 %3 is outside the supply's %4 to %5 %3");
    case RunFaultKind::BeyondRange: return QStringLiteral("%1 %2 %3 is beyond the supply's %4 %3");
    case RunFaultKind::NeverBelow: return QStringLiteral("%1 is never below %2 %3");
    }
    return {};
}

// Fills %1, %2... in one pass, so that a value holding "%1" stays as it is.
QString Filled(const QString &text, const QStringList &values)
{
    QString result = text;
    switch (values.size()) {
    case 0: return result;
    case 1: return result.arg(values.at(0));
    case 2: return result.arg(values.at(0), values.at(1));
    case 3: return result.arg(values.at(0), values.at(1), values.at(2));
    case 4: return result.arg(values.at(0), values.at(1), values.at(2), values.at(3));
    default: return result.arg(values.at(0), values.at(1), values.at(2), values.at(3), values.at(4));
    }
}

}  // namespace

QString RunFaultText(const RunFault &fault)
{
    QStringList values = fault.values;
    if (fault.kind == RunFaultKind::ConditionRefused)
        values << RunFaultText(RunFault{fault.reason, fault.reasonValues, RunFaultKind::None, {}});
    return Filled(Template(fault.kind), values);
}
