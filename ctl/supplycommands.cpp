// The short commands: one step with the supply each, or none for ports.

#include "addressblocks.h"
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

#include <algorithm>
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

// For several addresses: writes each one back to back, then reads each back
// to confirm it, then tells each result in the order given. A signal stops
// the writing after the write under way; what was written is still confirmed
// and told. Returns the worst exit status.
template <typename Write, typename Confirm, typename Report>
int WriteEach(CommandContext &context, WriteGuard &guard, const QString &what, Write write,
              Confirm confirm, Report report)
{
    const QList<quint8> addresses = context.Options().addresses;
    QList<SupplyOutcome> outcomes;
    QList<SupplyStep> steps;
    int signalNumber = 0;
    for (int i = 0; i < addresses.size(); ++i) {
        if ((signalNumber = guard.Received()))
            break;
        context.UseAddress(addresses.at(i));
        outcomes << write(i);
        steps << context.Session().LastStep();
    }
    const int sent = outcomes.size();
    for (int i = 0; i < sent; ++i) {
        if (outcomes.at(i) != SupplyOutcome::Done)
            continue;
        context.UseAddress(addresses.at(i));
        outcomes[i] = confirm(i);
        steps[i] = context.Session().LastStep();
    }
    AddressBlocks blocks(context);
    int worst = ExitStatus::Success;
    for (int i = 0; i < sent; ++i) {
        context.UseAddress(addresses.at(i));
        worst = std::max(worst, report(blocks, i, outcomes.at(i), steps.at(i)));
    }
    if (!signalNumber)
        signalNumber = guard.Received();
    if (!signalNumber)
        return worst;
    QStringList unsent;
    for (int i = sent; i < addresses.size(); ++i)
        unsent << QString::number(addresses.at(i));
    if (!unsent.isEmpty())
        context.UseAddress(addresses.at(sent));
    const QString state = unsent.isEmpty()
                              ? QStringLiteral("every address was written and is told above")
                              : QStringLiteral("nothing was sent to address %1").arg(unsent.join(", "));
    return std::max(worst, context.Fail(128 + signalNumber, QStringLiteral("%1: stopped by %2; %3")
                                                                .arg(what, WriteGuard::SignalName(signalNumber), state)));
}

int SwitchEach(CommandContext &context, WriteGuard &guard, bool on)
{
    const QString what = on ? QStringLiteral("on") : QStringLiteral("off");
    return WriteEach(
        context, guard, what, [&](int) { return context.Session().WriteOutput(on); },
        [&](int) { return context.Session().ConfirmOutput(on); },
        [&](AddressBlocks &blocks, int, SupplyOutcome outcome, SupplyStep step) {
            if (outcome == SupplyOutcome::NotConfirmed)
                return context.FailSupplyAt(what, outcome, step,
                                            QStringLiteral("the output is still %1")
                                                .arg(on ? QStringLiteral("off") : QStringLiteral("on")));
            if (outcome != SupplyOutcome::Done)
                return context.FailSupplyAt(what, outcome, step);
            return blocks.Print({{QStringLiteral("output"), on}, {QStringLiteral("confirmed"), true}},
                                {{QStringLiteral("output"), what}});
        });
}

int SetEach(CommandContext &context, WriteGuard &guard, std::optional<double> volts,
            std::optional<double> amperes)
{
    const int count = context.Options().addresses.size();
    QVector<SetpointRecord> wanted(count);
    QVector<SetpointRecord> held(count);
    return WriteEach(
        context, guard, QStringLiteral("set"),
        [&](int i) { return context.Session().WriteSetpoints(volts, amperes, wanted[i]); },
        [&](int i) {
            const SupplyOutcome outcome = context.Session().ConfirmSetpoints(wanted.at(i));
            held[i] = context.Session().ReadBackSetpoints();
            return outcome;
        },
        [&](AddressBlocks &blocks, int i, SupplyOutcome outcome, SupplyStep step) {
            if (outcome == SupplyOutcome::NotConfirmed)
                return context.FailSupplyAt(QStringLiteral("set"), outcome, step,
                                            QStringLiteral("it holds %1 V and %2 A")
                                                .arg(DecimalText(SetpointVolts(held.at(i)), 3),
                                                     DecimalText(SetpointAmperes(held.at(i)), 3)));
            if (outcome != SupplyOutcome::Done)
                return context.FailSupplyAt(QStringLiteral("set"), outcome, step);
            QJsonObject json = SetpointJson(held.at(i));
            json.insert(QStringLiteral("confirmed"), true);
            return blocks.Print(json, SetpointRows(held.at(i)));
        });
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
    if (context.SeveralAddresses())
        return SwitchEach(context, guard, on);
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
    AddressBlocks blocks(context);
    return blocks.ForEach([&](quint8) {
        StatusRecord status;
        const SupplyOutcome outcome = context.Session().ReadStatus(status);
        if (outcome != SupplyOutcome::Done)
            return context.FailSupply(QStringLiteral("status"), outcome);
        return blocks.Print(StatusJson(status), StatusRows(status));
    });
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
    AddressBlocks blocks(context);
    return blocks.ForEach([&](quint8) {
        MeasurementRecord measurement;
        const SupplyOutcome outcome = context.Session().ReadMeasurements(measurement);
        if (outcome != SupplyOutcome::Done)
            return context.FailSupply(QStringLiteral("measure"), outcome);
        return blocks.Print(MeasurementJson(measurement), MeasurementRows(measurement));
    });
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
    if (context.SeveralAddresses())
        return SetEach(context, guard, volts, amperes);
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
    AddressBlocks blocks(context);
    return blocks.ForEach([&](quint8) {
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
        return blocks.PrintLines(json, lines);
    });
}

int RunOn(CommandContext &context, const QStringList &arguments)
{
    return SwitchOutput(context, arguments, true);
}

int RunOff(CommandContext &context, const QStringList &arguments)
{
    return SwitchOutput(context, arguments, false);
}
