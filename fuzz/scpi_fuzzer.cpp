// Feeds arbitrary bytes to what the SCPI server makes of a client's message:
// the message parser, the number reader (for both units) and header matching
// (with the input as a header pattern too), and checks what comes out.
//
// When the input holds at least 8 bytes, they are also taken as a double: a
// finite one, printed with 17 significant digits (bare and with the MV suffix),
// must read back as exactly that value (and a thousandth of it).

#include "fuzzcheck.h"
#include "scpimessage.h"
#include "scpinumber.h"

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

bool isMnemonic(const QByteArray &node, int from)
{
    if (node.size() <= from || node.size() > from + 12)
        return false;
    if (node.at(from) < 'A' || node.at(from) > 'Z')
        return false;
    for (int i = from; i < node.size(); ++i) {
        const char c = node.at(i);
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

bool isWhite(char c)
{
    return c >= 0 && c <= ' ';
}

void checkCommands(const QByteArray &message)
{
    const QList<ScpiCommand> commands = ParseScpiMessage(message);
    qsizetype parameterBytes = 0;
    for (int i = 0; i < commands.size(); ++i) {
        const ScpiCommand &command = commands.at(i);
        if (command.syntaxError) {
            FUZZ_CHECK(i == commands.size() - 1);
            continue;
        }
        FUZZ_CHECK(!command.nodes.isEmpty());
        if (command.common) {
            FUZZ_CHECK(command.nodes.size() == 1);
            FUZZ_CHECK(command.nodes.first().startsWith('*') && isMnemonic(command.nodes.first(), 1));
        } else {
            for (const QByteArray &node : command.nodes)
                FUZZ_CHECK(isMnemonic(node, 0));
        }
        for (const QByteArray &parameter : command.parameters) {
            FUZZ_CHECK(!parameter.isEmpty());
            FUZZ_CHECK(!isWhite(parameter.front()) && !isWhite(parameter.back()));
            FUZZ_CHECK(parameter.front() == '"' || parameter.front() == '\'' || !parameter.contains('?'));
            parameterBytes += parameter.size();
            for (ScpiUnit unit : {ScpiUnit::Volt, ScpiUnit::Ampere}) {
                const ScpiNumber number = ReadScpiNumber(parameter, unit);
                FUZZ_CHECK(!std::isnan(number.value));
            }
        }
        // Matching never loops or recurses without end, whatever the pattern.
        ScpiHeader(message.left(64).constData()).Matches(command.nodes);
        ScpiHeader("[SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]").Matches(command.nodes);
        // A node with the suffix 1 matches only where the pattern allows it.
        if (ScpiHeader("MEASure#[:SCALar]:ALL[:DC]").Matches(command.nodes)) {
            const QByteArray root = command.nodes.first();
            FUZZ_CHECK(root == "MEAS" || root == "MEASURE" || root == "MEAS1" || root == "MEASURE1");
            FUZZ_CHECK(command.nodes.contains("ALL"));
        }
    }
    FUZZ_CHECK(parameterBytes <= message.size());
}

void checkNumber(const QByteArray &text)
{
    for (ScpiUnit unit : {ScpiUnit::Volt, ScpiUnit::Ampere}) {
        const ScpiNumber number = ReadScpiNumber(text, unit);
        FUZZ_CHECK(!std::isnan(number.value));
        const QByteArray upper = text.toUpper();
        if (number.kind == ScpiNumber::Minimum)
            FUZZ_CHECK(upper == "MIN" || upper == "MINIMUM");
        if (number.kind == ScpiNumber::Maximum)
            FUZZ_CHECK(upper == "MAX" || upper == "MAXIMUM");
        if (number.kind == ScpiNumber::Default)
            FUZZ_CHECK(upper == "DEF" || upper == "DEFAULT");
    }
}

void checkRoundTrip(const uint8_t *data)
{
    double value;
    std::memcpy(&value, data, sizeof value);
    if (!std::isfinite(value))
        return;
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    const ScpiNumber bare = ReadScpiNumber(text, ScpiUnit::Ampere);
    FUZZ_CHECK(bare.kind == ScpiNumber::Value && bare.value == value);
    std::strncat(text, " mV", sizeof text - std::strlen(text) - 1);
    const ScpiNumber milli = ReadScpiNumber(text, ScpiUnit::Volt);
    FUZZ_CHECK(milli.kind == ScpiNumber::Value && milli.value == value * 0.001);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    checkCommands(input);
    checkNumber(input);
    if (size >= sizeof(double))
        checkRoundTrip(data);
    return 0;
}
