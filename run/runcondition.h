#pragma once

#include "runfault.h"

#include <QString>

#include <optional>

// A condition "QUANTITY OP NUMBER" (blanks allowed), such as "current<0.05":
// what ends a step early and what trips a limit.

// The window's limit boxes list the quantities in this order.
enum class RunQuantity {
    Voltage, Current, Power, Temperature, Charge, Energy, Elapsed,
    StepElapsed, StepCharge, StepEnergy  // since the step began
};
enum class RunComparison { Less, LessOrEqual, Greater, GreaterOrEqual };

// The values a condition is tested against, in V, A, W, degC, Ah, Wh and s;
// charge, energy and elapsed count from the run's start, the step's from the
// step's. The temperature is absent without a recent measurement.
struct RunQuantities {
    double volts = 0;
    double amperes = 0;
    double watts = 0;
    std::optional<double> celsius;
    double ampereHours = 0;
    double wattHours = 0;
    double elapsedSeconds = 0;
    double stepAmpereHours = 0;
    double stepWattHours = 0;
    double stepElapsedSeconds = 0;
};

struct RunCondition {
    RunQuantity quantity = RunQuantity::Voltage;
    RunComparison comparison = RunComparison::Less;
    double value = 0;

    // A quantity that is not known (no temperature yet) never holds.
    bool holds(const RunQuantities &q) const;
    // The normalised text, e.g. "current<0.05".
    QString text() const;
};

// Why the supply's ranges (0 to 30 V, 0 to 10 A, up to 300 W; charge, energy
// and times never negative) rule the condition out, or no fault when they do
// not: a value beyond a range, or below its lowest with "<".
RunFault ImplausibleRunCondition(const RunCondition &condition);

// The condition, or nothing with *fault saying what is wrong: not the form,
// an unknown quantity, or an implausible one.
std::optional<RunCondition> ParseRunCondition(const QString &text, RunFault *fault);
// The same with the fault in English.
std::optional<RunCondition> ParseRunCondition(const QString &text, QString *error);
