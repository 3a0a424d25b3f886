// The short commands: one step with the supply each, or none for ports.

#include "commandcontext.h"
#include "commandtable.h"
#include "decimalinput.h"
#include "exitstatus.h"
#include "readingformat.h"
#include "units.h"
#include "writeguard.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QSerialPortInfo>

#include <optional>

namespace {

// Parses a command that takes no arguments of its own; -1 to go on.
int ParseNoArguments(CommandContext &context, const QStringList &arguments,
                     const QString &description)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const int status = ParseCommandLine(parser, arguments, context.Options().json);
    if (status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("%1 takes no arguments").arg(arguments.first()));
    return -1;
}

// A set-point option's value in range, or an error text.
std::optional<double> SetpointValue(const QCommandLineParser &parser, const QString &name,
                                    double min, double max, const char *unit, QString *error)
{
    if (!parser.isSet(name))
        return std::nullopt;
    double value = 0;
    if (!ParseDecimal(parser.value(name), &value) || value < min || value > max) {
        *error = QStringLiteral("--%1 wants %2 to %3 %4, not \"%5\"")
                     .arg(name)
                     .arg(min)
                     .arg(max)
                     .arg(QLatin1String(unit), parser.value(name));
    }
    return value;
}

int SwitchOutput(CommandContext &context, const QStringList &arguments, bool on)
{
    const int parsed = ParseNoArguments(
        context, arguments,
        on ? QStringLiteral("Switches the output on and reads the status back to confirm it.")
           : QStringLiteral("Switches the output off and reads the status back to confirm it."));
    if (parsed >= 0)
        return parsed;
    const QString what = on ? QStringLiteral("on") : QStringLiteral("off");
    WriteGuard guard;
    context.SetWriteGuard(&guard, what);
    if (const int status = context.Connect())
        return status;
    if (const int signalNumber = guard.Received())
        return context.Interrupted(what, signalNumber);
    const SupplyOutcome outcome = context.Session().SetOutput(on);
    if (const int signalNumber = guard.Received())
        return context.Interrupted(what, signalNumber, outcome);
    if (outcome == SupplyOutcome::NotConfirmed)
        return context.FailSupply(what, outcome, QStringLiteral("the output is still %1")
                                                     .arg(on ? QStringLiteral("off")
                                                             : QStringLiteral("on")));
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(what, outcome);
    return context.PrintResult({{QStringLiteral("output"), on}, {QStringLiteral("confirmed"), true}},
                        {{QStringLiteral("output"), what}});
}

}  // namespace

int RunPorts(CommandContext &context, const QStringList &arguments)
{
    const int parsed = ParseNoArguments(
        context, arguments,
        QStringLiteral("Lists the serial ports the system reports: name, description, serial "
                       "number. Pseudo-terminals are not listed; name them with --port."));
    if (parsed >= 0)
        return parsed;
    QJsonArray list;
    OutputRows rows;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        list.append(QJsonObject{{QStringLiteral("name"), info.systemLocation()},
                                {QStringLiteral("description"), info.description()},
                                {QStringLiteral("serialNumber"), info.serialNumber()}});
        rows.append({info.systemLocation(), QStringLiteral("%1  %2").arg(
                                                 info.description().isEmpty() ? QStringLiteral("-")
                                                                              : info.description(),
                                                 info.serialNumber())});
    }
    if (rows.isEmpty() && !context.Options().json)
        WriteErr(QStringLiteral("velkaroctl: no serial ports found\n"));
    return context.PrintResult({{QStringLiteral("ports"), list}}, rows);
}

int RunStatus(CommandContext &context, const QStringList &arguments)
{
    const int parsed = ParseNoArguments(
        context, arguments,
        QStringLiteral("Reads the output voltage and current, the regulation mode (CV or CC) and "
                       "whether the output is on."));
    if (parsed >= 0)
        return parsed;
    if (const int status = context.Connect())
        return status;
    StatusRecord status;
    const SupplyOutcome outcome = context.Session().ReadStatus(status);
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(QStringLiteral("status"), outcome);
    return context.PrintResult(StatusJson(status), StatusRows(status));
}

int RunMeasure(CommandContext &context, const QStringList &arguments)
{
    const int parsed = ParseNoArguments(
        context, arguments,
        QStringLiteral("Reads the supply's internal measurements: output voltage and current, "
                       "temperature, input, PWM and reference voltages."));
    if (parsed >= 0)
        return parsed;
    if (const int status = context.Connect())
        return status;
    MeasurementRecord measurement;
    const SupplyOutcome outcome = context.Session().ReadMeasurements(measurement);
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(QStringLiteral("measure"), outcome);
    return context.PrintResult(MeasurementJson(measurement), MeasurementRows(measurement));
}

int RunSet(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sets the voltage and current set-points and reads them back to confirm them. A value not "
        "given keeps the supply's present one. Decimal point or comma."));
    parser.addOptions({
        {QStringLiteral("voltage"),
         QStringLiteral("Voltage set-point, %1 to %2 V.").arg(MinSetpointVolts).arg(MaxSetpointVolts),
         QStringLiteral("V")},
        {QStringLiteral("current"),
         QStringLiteral("Current limit, %1 to %2 A.").arg(MinSetpointAmperes).arg(MaxSetpointAmperes),
         QStringLiteral("A")},
    });
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("set takes only --voltage and --current"));
    QString error;
    const std::optional<double> volts =
        SetpointValue(parser, QStringLiteral("voltage"), MinSetpointVolts, MaxSetpointVolts, "V", &error);
    const std::optional<double> amperes = SetpointValue(
        parser, QStringLiteral("current"), MinSetpointAmperes, MaxSetpointAmperes, "A", &error);
    if (!error.isEmpty())
        return context.Fail(ExitStatus::Usage, error);
    if (!volts && !amperes)
        return context.Fail(ExitStatus::Usage, QStringLiteral("set wants --voltage, --current or both"));

    WriteGuard guard;
    context.SetWriteGuard(&guard, QStringLiteral("set"));
    if (const int status = context.Connect())
        return status;
    if (const int signalNumber = guard.Received())
        return context.Interrupted(QStringLiteral("set"), signalNumber);
    SupplySession &session = context.Session();
    const SupplyOutcome outcome = session.SetSetpoints(volts, amperes);
    if (const int signalNumber = guard.Received())
        return context.Interrupted(QStringLiteral("set"), signalNumber, outcome);
    if (outcome == SupplyOutcome::NotConfirmed) {
        const SetpointRecord &held = session.ReadBackSetpoints();
        return context.FailSupply(QStringLiteral("set"), outcome,
                                  QStringLiteral("it holds %1 V and %2 A")
                                      .arg(DecimalText(SetpointVolts(held), 3),
                                           DecimalText(SetpointAmperes(held), 3)));
    }
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(QStringLiteral("set"), outcome);
    QJsonObject json = SetpointJson(session.ReadBackSetpoints());
    json.insert(QStringLiteral("confirmed"), true);
    return context.PrintResult(json, SetpointRows(session.ReadBackSetpoints()));
}

int RunGet(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the voltage and current set-points and the output state from the supply and prints "
        "the values asked for, one bare value per line in the order asked (volts and amperes, "
        "on or off); all three when none is named. Under --json, one object."));
    parser.addPositionalArgument(QStringLiteral("what"), QStringLiteral("voltage, current, output."),
                                 QStringLiteral("[voltage|current|output]..."));
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    const QStringList known{QStringLiteral("voltage"), QStringLiteral("current"),
                            QStringLiteral("output")};
    QStringList asked = parser.positionalArguments();
    if (asked.isEmpty())
        asked = known;
    for (const QString &name : asked) {
        if (!known.contains(name))
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("get wants voltage, current or output, not \"%1\"")
                                    .arg(name));
    }
    if (const int status = context.Connect())
        return status;
    // Only what was asked for is read.
    SetpointRecord setpoints;
    StatusRecord status;
    SupplySession &session = context.Session();
    if (asked.contains(known[0]) || asked.contains(known[1])) {
        const SupplyOutcome outcome = session.ReadSetpoints(setpoints);
        if (outcome != SupplyOutcome::Done)
            return context.FailSupply(QStringLiteral("get"), outcome);
    }
    if (asked.contains(known[2])) {
        const SupplyOutcome outcome = session.ReadStatus(status);
        if (outcome != SupplyOutcome::Done)
            return context.FailSupply(QStringLiteral("get"), outcome);
    }
    const QJsonObject setpointJson = SetpointJson(setpoints);
    QJsonObject json;
    QStringList lines;
    for (const QString &name : asked) {
        if (name == known[0]) {
            json.insert(name, setpointJson[QStringLiteral("voltageSet")]);
            lines << DecimalText(SetpointVolts(setpoints), 3);
        } else if (name == known[1]) {
            json.insert(name, setpointJson[QStringLiteral("currentSet")]);
            lines << DecimalText(SetpointAmperes(setpoints), 3);
        } else {
            json.insert(name, status.OutputOn != 0);
            lines << (status.OutputOn != 0 ? QStringLiteral("on") : QStringLiteral("off"));
        }
    }
    return context.PrintLines(json, lines);
}

int RunOn(CommandContext &context, const QStringList &arguments)
{
    return SwitchOutput(context, arguments, true);
}

int RunOff(CommandContext &context, const QStringList &arguments)
{
    return SwitchOutput(context, arguments, false);
}
