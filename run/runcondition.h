#pragma once

#include <QString>

#include <optional>

// A condition "QUANTITY OP NUMBER" (blanks allowed), such as "current<0.05":
// what ends a step early and what trips a limit.

enum class RunQuantity { Voltage, Current, Power, Temperature, Charge, Energy, Elapsed };
enum class RunComparison { Less, LessOrEqual, Greater, GreaterOrEqual };

// The values a condition is tested against, in V, A, W, degC, Ah, Wh and s.
// The temperature is absent until a measurement has been read.
struct RunQuantities {
    double volts = 0;
    double amperes = 0;
    double watts = 0;
    std::optional<double> celsius;
    double ampereHours = 0;
    double wattHours = 0;
    double elapsedSeconds = 0;
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

// The condition, or nothing with *error saying what is wrong.
std::optional<RunCondition> ParseRunCondition(const QString &text, QString *error);
