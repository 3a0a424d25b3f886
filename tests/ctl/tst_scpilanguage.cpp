#include "scpierrors.h"
#include "scpimessage.h"
#include "scpinumber.h"
#include "testmain.h"

#include <cmath>

Q_DECLARE_METATYPE(ScpiUnit)

namespace {

// A message's commands in a compact form: NODE:NODE?(param|param), joined by
// " / "; a malformed command is "!".
QByteArray render(const QList<ScpiCommand> &commands)
{
    QList<QByteArray> parts;
    for (const ScpiCommand &command : commands) {
        if (command.syntaxError) {
            parts.append("!");
            continue;
        }
        QByteArray text = command.nodes.join(':');
        if (command.query)
            text += '?';
        if (!command.parameters.isEmpty())
            text += '(' + command.parameters.join('|') + ')';
        parts.append(text);
    }
    return parts.join(" / ");
}

}  // namespace

class ScpiLanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void messages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("commands");
        const auto row = [](const char *name, const char *message, const char *commands) {
            QTest::newRow(name) << QByteArray(message) << QByteArray(commands);
        };
        row("short form", "VOLT 5", "VOLT(5)");
        row("any case, long nodes, suffix with space", "sour:Volt:lev 12.5 V", "SOUR:VOLT:LEV(12.5 V)");
        row("path continues after ;", "MEAS:VOLT?;CURR?", "MEAS:VOLT? / MEAS:CURR?");
        row("leading colon returns to the root", "SOUR:VOLT 5;CURR 1;:OUTP ON", "SOUR:VOLT(5) / SOUR:CURR(1) / OUTP(ON)");
        row("common command keeps the path", "MEAS:VOLT?;*opc?;POW?", "MEAS:VOLT? / *OPC? / MEAS:POW?");
        row("white space and empty commands", " \t*idn? ;; ", "*IDN?");
        row("parameters, quoted separators", "VOLT? MAX;SYST:X 1 , \"a;b\",'c,d'", "VOLT?(MAX) / SYST:X(1|\"a;b\"|'c,d')");
        row("empty parameter stops the message", "OUTP ON;VOLT 5,;CURR 1", "OUTP(ON) / !");
        row("empty node", "VOLT::LEV 5", "!");
        row("trailing colon", "VOLT: 5", "!");
        row("digit first", "1VOLT 5", "!");
        row("mnemonic of 13", "ABCDEFGHIJKLM?", "!");
        row("question mark inside", "VOLT?:LEV", "!");
        row("question mark after the parameter", "VOLT 5?", "!");
        row("question mark in a string", "DISP:TEXT \"Ready?\"", "DISP:TEXT(\"Ready?\")");
        row("bare star", "*", "!");
        row("bare colon", ":", "!");
        QTest::newRow("binary") << QByteArray("\x01\xff\x80?", 4) << QByteArray("!");
        row("unclosed quote drops all", "OUTP ON;X 'a", "!");
        row("empty", "", "");
    }

    void messages()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, commands);
        QCOMPARE(render(ParseScpiMessage(message)), commands);
    }

    void headers()
    {
        const ScpiHeader voltage("[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]");
        for (const char *header : {"VOLT", "VOLTAGE", "SOUR:VOLT", "SOURCE:VOLTAGE:LEVEL:IMMEDIATE:AMPLITUDE",
                                   "VOLT:AMPL", "SOUR:VOLT:IMM", "VOLT:LEV:AMPL"})
            QVERIFY2(voltage.Matches(QByteArray(header).split(':')), header);
        for (const char *header : {"VOL", "VOLTA", "VOLTAG", "SOUR", "VOLT:AMPL:LEV", "SOUR:SOUR:VOLT",
                                   "VOLT:LEV:LEV", "CURR"})
            QVERIFY2(!voltage.Matches(QByteArray(header).split(':')), header);
        QVERIFY(ScpiHeader("*IDN").Matches({"*IDN"}));
        QVERIFY(!ScpiHeader("MEASure:TEMPerature").Matches({"MEAS", "TEMP", "DC"}));
        // One channel: the suffix 1 on the nodes that take one, nothing else.
        const ScpiHeader suffixed("[SOURce#]:VOLTage");
        for (const char *header : {"SOUR1:VOLT", "SOURCE1:VOLT", "SOUR:VOLT", "VOLT"})
            QVERIFY2(suffixed.Matches(QByteArray(header).split(':')), header);
        for (const char *header : {"SOUR2:VOLT", "SOUR11:VOLT", "VOLT1", "SOU1:VOLT", "1:VOLT"})
            QVERIFY2(!suffixed.Matches(QByteArray(header).split(':')), header);
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<ScpiUnit>("unit");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("value");
        const ScpiUnit v = ScpiUnit::Volt, a = ScpiUnit::Ampere;
        const int value = ScpiNumber::Value, invalid = ScpiNumber::Invalid;
        QTest::newRow("NR1") << QByteArray("5") << v << value << 5.0;
        QTest::newRow("NR2 signed") << QByteArray("+12.5") << v << value << 12.5;
        QTest::newRow("negative") << QByteArray("-0.25") << a << value << -0.25;
        QTest::newRow("no integer part") << QByteArray(".5") << v << value << 0.5;
        QTest::newRow("no fraction") << QByteArray("5.") << v << value << 5.0;
        QTest::newRow("NR3") << QByteArray("1.25E+1") << v << value << 12.5;
        QTest::newRow("NR3 lower case") << QByteArray("25e-3") << a << value << 0.025;
        QTest::newRow("volt suffix") << QByteArray("1.5v") << v << value << 1.5;
        QTest::newRow("millivolts spaced") << QByteArray("500 mV") << v << value << 0.5;
        QTest::newRow("NR3 with suffix") << QByteArray("2.5E3MV") << v << value << 2.5;
        QTest::newRow("milliamperes") << QByteArray("250MA") << a << value << 0.25;
        QTest::newRow("amperes") << QByteArray("2 A") << a << value << 2.0;
        QTest::newRow("beyond a double") << QByteArray("1e999") << v << value << qInf();
        QTest::newRow("below a double") << QByteArray("1e-999") << a << value << 0.0;
        QTest::newRow("MIN") << QByteArray("min") << v << int(ScpiNumber::Minimum) << 0.0;
        QTest::newRow("MAXimum") << QByteArray("MAXimum") << a << int(ScpiNumber::Maximum) << 0.0;
        QTest::newRow("DEF") << QByteArray("def") << v << int(ScpiNumber::Default) << 0.0;
        QTest::newRow("DEFault") << QByteArray("DEFault") << a << int(ScpiNumber::Default) << 0.0;
        for (const char *junk : {"", "abc", "+", ".", "-.", "1.2.3", "e5", "MINI", "DEFA", "MA",
                                 "- 5", "5;", "\xb5V", "5 \xb5V", "5 ,"})
            QTest::newRow(junk) << QByteArray(junk) << v << invalid << 0.0;
        // -131: a suffix, but not one of this unit; -138: a suffix where
        // none is taken; -108: a second value.
        const int badSuffix = ScpiNumber::InvalidSuffix;
        for (const char *text : {"5 V V", "0x10", "5 mv2", "3 KV", "5 A", "5E", "5EV"})
            QTest::newRow(text) << QByteArray(text) << v << badSuffix << 0.0;
        QTest::newRow("microamperes") << QByteArray("1 UA") << a << badSuffix << 0.0;
        QTest::newRow("volts for amperes") << QByteArray("5V") << a << badSuffix << 0.0;
        QTest::newRow("millivolts for amperes") << QByteArray("5MV") << a << badSuffix << 0.0;
        const ScpiUnit none = ScpiUnit::None;
        QTest::newRow("count") << QByteArray("16") << none << value << 16.0;
        QTest::newRow("count with a suffix") << QByteArray("16 V") << none << int(ScpiNumber::SuffixNotAllowed) << 0.0;
        for (const char *text : {"1 2", "1 +2", "1\t.5", "1 -2"})
            QTest::newRow(text) << QByteArray(text) << v << int(ScpiNumber::ParameterNotAllowed) << 0.0;
    }

    void numbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(ScpiUnit, unit);
        QFETCH(int, kind);
        QFETCH(double, value);
        const ScpiNumber number = ReadScpiNumber(text, unit);
        QCOMPARE(int(number.kind), kind);
        if (kind == ScpiNumber::Value) {
            if (std::isinf(value))
                QVERIFY(std::isinf(number.value) && number.value > 0);
            else
                QVERIFY2(std::abs(number.value - value) < 1e-12, qPrintable(QString::number(number.value)));
        }
    }

    // IEEE 488.2's booleans: ON and OFF, or a number rounded to the nearest
    // integer, 0 OFF and any other ON (OUTP 2 switches on, OUTP 0.4 off).
    void booleans_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("value");
        const int value = ScpiNumber::Value, invalid = ScpiNumber::Invalid;
        const auto row = [](const char *text, int kind, double on) {
            QTest::newRow(text) << QByteArray(text) << kind << on;
        };
        for (const char *on : {"ON", "on", "1", "2", "0.5", "0.6", "-1", "-0.6", "+1.4", "1E3", "1e999"})
            row(on, value, 1);
        for (const char *off : {"OFF", "Off", "0", "0.4", "-0.4", "+0", "0.0", "4E-1", "1e-999"})
            row(off, value, 0);
        for (const char *junk : {"", "ONN", "O N", "MAYBE", "TRUE", "MIN", "MAX", "DEF", "+", "1.2.3"})
            row(junk, invalid, 0);
        row("1 V", ScpiNumber::SuffixNotAllowed, 0);
        row("1 0", ScpiNumber::ParameterNotAllowed, 0);
    }

    void booleans()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        QFETCH(double, value);
        const ScpiNumber on = ReadScpiBoolean(text);
        QCOMPARE(int(on.kind), kind);
        if (kind == ScpiNumber::Value)
            QCOMPARE(on.value, value);
    }

    // The standard's error classes and their event bits: the command and
    // execution errors are seen through the server too (tst_scpiserver's
    // *ESR? 48); the device-specific and query errors only here.
    void errorsSetTheirClassBit()
    {
        QCOMPARE(ScpiError::EventBit(ScpiError::Syntax), 0x20);
        QCOMPARE(ScpiError::EventBit(ScpiError::HardwareMissing), 0x10);
        QCOMPARE(ScpiError::EventBit(ScpiError::InputBufferOverrun), 0x08);
        QCOMPARE(ScpiError::EventBit(-410), 0x04);
        QCOMPARE(ScpiError::EventBit(ScpiError::NoError), 0);
    }
};

PANEL_TEST_MAIN(ScpiLanguageTest)
#include "tst_scpilanguage.moc"
