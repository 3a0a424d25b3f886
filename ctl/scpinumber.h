#pragma once

#include <QByteArray>

// What a numeric parameter is measured in: decides the suffixes it accepts.
enum class ScpiUnit {
    Volt,    // V, MV
    Ampere,  // A, MA
    None,    // a count or a register value: no suffix
};

struct ScpiNumber {
    enum Kind {
        Value,    // value holds the number in volts or amperes
        Minimum,  // MIN or MINimum
        Maximum,  // MAX or MAXimum
        Default,  // DEF or DEFault
        Invalid,  // not a number
        InvalidSuffix,       // a number, then a suffix this unit does not take
        SuffixNotAllowed,    // a number, then a suffix where the unit is None
        ParameterNotAllowed, // a number, white space, then another number ("1 2")
    };
    Kind kind = Invalid;
    double value = 0;
};

// Reads one numeric parameter (surrounding white space already removed): an
// optional sign, digits with an optional decimal point, an optional exponent
// (E or e, an optional sign, digits), then optionally white space and a suffix
// of the unit, in any case: anything after the number that starts with a
// letter is taken as a suffix and judged as one. A number too large for a double reads as an
// infinite value, which no range admits; one too small reads as zero.
ScpiNumber ReadScpiNumber(const QByteArray &text, ScpiUnit unit);

// Reads a boolean parameter as IEEE 488.2 does: ON or OFF in any case, or a
// number rounded to the nearest integer, 0 being OFF and any other ON. A
// Value holds 0 or 1; MIN, MAX and DEF are Invalid; a suffix is
// SuffixNotAllowed.
ScpiNumber ReadScpiBoolean(const QByteArray &text);
