#include "scpinumber.h"

#include <cmath>
#include <limits>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

int skipDigits(const QByteArray &text, int at)
{
    while (at < text.size() && isDigit(text.at(at)))
        ++at;
    return at;
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The factor a suffix stands for, or 0 when the unit does not take it.
double suffixFactor(const QByteArray &suffix, ScpiUnit unit)
{
    if (suffix.isEmpty())
        return 1.0;
    if (unit == ScpiUnit::None)
        return 0;
    const QByteArray upper = suffix.toUpper();
    const char *base = unit == ScpiUnit::Volt ? "V" : "A";
    if (upper == base)
        return 1.0;
    if (upper == QByteArray("M") + base)
        return 0.001;
    return 0;
}

}  // namespace

ScpiNumber ReadScpiNumber(const QByteArray &text, ScpiUnit unit)
{
    ScpiNumber number;
    const QByteArray upper = text.toUpper();
    if (upper == "MIN" || upper == "MINIMUM") {
        number.kind = ScpiNumber::Minimum;
        return number;
    }
    if (upper == "MAX" || upper == "MAXIMUM") {
        number.kind = ScpiNumber::Maximum;
        return number;
    }
    if (upper == "DEF" || upper == "DEFAULT") {
        number.kind = ScpiNumber::Default;
        return number;
    }

    int at = 0;
    if (at < text.size() && (text.at(at) == '+' || text.at(at) == '-'))
        ++at;
    const int integerEnd = skipDigits(text, at);
    int digits = integerEnd - at;
    at = integerEnd;
    if (at < text.size() && text.at(at) == '.') {
        const int fractionEnd = skipDigits(text, at + 1);
        digits += fractionEnd - at - 1;
        at = fractionEnd;
    }
    if (digits == 0)
        return number;
    bool negativeExponent = false;
    if (at < text.size() && (text.at(at) == 'E' || text.at(at) == 'e')) {
        int exponent = at + 1;
        if (exponent < text.size() && (text.at(exponent) == '+' || text.at(exponent) == '-')) {
            negativeExponent = text.at(exponent) == '-';
            ++exponent;
        }
        const int exponentEnd = skipDigits(text, exponent);
        // "5E" or "5EV" is no exponent; the E might still start a suffix,
        // which the unit check below refuses.
        if (exponentEnd > exponent)
            at = exponentEnd;
    }
    const int numberEnd = at;
    while (at < text.size() && isSpace(text.at(at)))
        ++at;
    const QByteArray rest = text.mid(at);
    if (!rest.isEmpty() && !isLetter(rest.at(0))) {
        // "1 2": a second value where one is taken; "1.2.3", "5;": no number.
        const char first = rest.at(0);
        if (at > numberEnd && (isDigit(first) || first == '+' || first == '-' || first == '.'))
            number.kind = ScpiNumber::ParameterNotAllowed;
        return number;
    }
    const double factor = suffixFactor(rest, unit);
    if (factor == 0) {
        number.kind = unit == ScpiUnit::None ? ScpiNumber::SuffixNotAllowed
                                             : ScpiNumber::InvalidSuffix;
        return number;
    }

    bool ok = false;
    double value = text.left(numberEnd).toDouble(&ok);
    if (!ok) {
        // Only a value beyond the range of a double gets here.
        const bool negative = text.at(0) == '-';
        value = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative)
            value = -value;
    }
    number.kind = ScpiNumber::Value;
    number.value = value * factor;
    return number;
}

ScpiNumber ReadScpiBoolean(const QByteArray &text)
{
    ScpiNumber number;
    const QByteArray upper = text.toUpper();
    if (upper == "ON" || upper == "OFF") {
        number.kind = ScpiNumber::Value;
        number.value = upper == "ON" ? 1 : 0;
        return number;
    }
    number = ReadScpiNumber(text, ScpiUnit::None);
    if (number.kind == ScpiNumber::Value)
        number.value = std::round(number.value) != 0 ? 1 : 0;
    else if (number.kind != ScpiNumber::SuffixNotAllowed && number.kind != ScpiNumber::ParameterNotAllowed)
        number.kind = ScpiNumber::Invalid;
    return number;
}
