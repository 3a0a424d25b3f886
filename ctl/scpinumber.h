#pragma once

#include <QByteArray>

// What a numeric parameter is measured in: decides the suffixes it accepts.
enum class ScpiUnit {
    Volt,    // V, MV
    Ampere,  // A, MA
};

struct ScpiNumber {
    enum Kind {
        Value,    // value holds the number in volts or amperes
        Minimum,  // MIN or MINimum
        Maximum,  // MAX or MAXimum
        Default,  // DEF or DEFault
        Invalid,  // not a number of this unit
    };
    Kind kind = Invalid;
    double value = 0;
};

// Reads one numeric parameter (surrounding white space already removed): an
// optional sign, digits with an optional decimal point, an optional exponent
// (E or e, an optional sign, digits), then optionally white space and a suffix
// of the unit, in any case. A number too large for a double reads as an
// infinite value, which no range admits; one too small reads as zero.
ScpiNumber ReadScpiNumber(const QByteArray &text, ScpiUnit unit);
