#pragma once

#include <QString>
#include <QStringList>

// What is wrong with a program file or a condition: a kind and the values its
// wording needs, so that each front end words it in its own language.
// The comments list each kind's values in order.
enum class RunFaultKind {
    None,
    // A program file.
    CannotRead,          // path, reason
    NotText,             // path
    UnbalancedQuote,
    UnknownColumn,       // the header's field
    ColumnTwice,         // column
    MissingColumn,       // column
    FieldCount,          // fields, the header's fields
    NoValue,             // column
    Voltage,             // field, lowest, highest (V)
    VoltageBelowLowest,  // as Voltage: 0 up to the lowest set-point
    Current,             // field, lowest, highest (A)
    Duration,            // field
    RampNotTime,         // field
    RampTooLong,         // field
    Output,              // field
    NoHeader,
    NoSteps,
    // A condition.
    ConditionForm,       // condition
    UnknownQuantity,     // quantity as written
    ConditionNumber,     // number as written, condition
    ConditionRefused,    // condition; why in reason and reasonValues
    // Why the supply's ranges rule a condition out.
    NeverNegative,       // quantity
    OutsideRange,        // quantity, value, unit, lowest, highest
    BeyondRange,         // quantity, value, unit, highest
    NeverBelow,          // quantity, lowest, unit
};

struct RunFault {
    RunFaultKind kind = RunFaultKind::None;
    QStringList values;
    RunFaultKind reason = RunFaultKind::None;
    QStringList reasonValues;

    bool isNone() const { return kind == RunFaultKind::None; }
};

// The fault in English, as velkaroctl and the recordings say it.
QString RunFaultText(const RunFault &fault);
