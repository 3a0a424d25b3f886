#include "scpiinstrument.h"

#include "supplysession.h"
#include "units.h"

namespace {

QByteArray fixed(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

double minimumOf(ScpiUnit unit)
{
    return unit == ScpiUnit::Volt ? MinSetpointVolts : MinSetpointAmperes;
}

double maximumOf(ScpiUnit unit)
{
    return unit == ScpiUnit::Volt ? MaxSetpointVolts : MaxSetpointAmperes;
}

}  // namespace

ScpiInstrument::ScpiInstrument(SupplySession &session, const QByteArray &identity)
    : session(session)
    , identity(identity)
{
    const char *voltage = "[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]";
    const char *current = "[SOURce]:CURRent[:LEVel][:IMMediate][:AMPLitude]";
    table = {
        {ScpiHeader("*IDN"), true, 0, 0, &ScpiInstrument::identify},
        {ScpiHeader("*CLS"), false, 0, 0, &ScpiInstrument::clearStatus},
        {ScpiHeader("*OPC"), true, 0, 0, &ScpiInstrument::operationComplete},
        {ScpiHeader(voltage), false, 1, 1, &ScpiInstrument::setVoltage},
        {ScpiHeader(voltage), true, 0, 1, &ScpiInstrument::voltageSetpoint},
        {ScpiHeader(current), false, 1, 1, &ScpiInstrument::setCurrent},
        {ScpiHeader(current), true, 0, 1, &ScpiInstrument::currentSetpoint},
        {ScpiHeader("OUTPut[:STATe]"), false, 1, 1, &ScpiInstrument::setOutput},
        {ScpiHeader("OUTPut[:STATe]"), true, 0, 0, &ScpiInstrument::outputState},
        {ScpiHeader("OUTPut:MODE"), true, 0, 0, &ScpiInstrument::outputMode},
        {ScpiHeader("MEASure[:SCALar]:VOLTage[:DC]"), true, 0, 0, &ScpiInstrument::measureVoltage},
        {ScpiHeader("MEASure[:SCALar]:CURRent[:DC]"), true, 0, 0, &ScpiInstrument::measureCurrent},
        {ScpiHeader("MEASure[:SCALar]:POWer[:DC]"), true, 0, 0, &ScpiInstrument::measurePower},
        {ScpiHeader("MEASure:TEMPerature"), true, 0, 0, &ScpiInstrument::measureTemperature},
        {ScpiHeader("SYSTem:ERRor[:NEXT]"), true, 0, 0, &ScpiInstrument::nextError},
        {ScpiHeader("SYSTem:VERSion"), true, 0, 0, &ScpiInstrument::version},
    };
}

std::optional<QByteArray> ScpiInstrument::Execute(const QByteArray &message)
{
    QList<QByteArray> responses;
    for (const ScpiCommand &command : ParseScpiMessage(message)) {
        if (command.syntaxError) {
            errors.Push(ScpiError::Syntax);
            break;
        }
        const std::optional<QByteArray> response = carryOut(command);
        if (response)
            responses.append(*response);
    }
    if (!responses.isEmpty())
        return responses.join(';');
    // A client that asked something waits for a line: a query lost in a
    // malformed message still gets one.
    if (message.contains('?'))
        return QByteArray(NotANumber);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::carryOut(const ScpiCommand &command)
{
    for (const Entry &entry : table) {
        if (entry.query != command.query || !entry.header.Matches(command.nodes))
            continue;
        int error = ScpiError::NoError;
        if (command.parameters.size() > entry.maxParameters)
            error = ScpiError::ParameterNotAllowed;
        else if (command.parameters.size() < entry.minParameters)
            error = ScpiError::MissingParameter;
        if (error == ScpiError::NoError)
            return (this->*entry.handler)(command);
        errors.Push(error);
        return command.query ? std::optional<QByteArray>(NotANumber) : std::nullopt;
    }
    // *RST lands here too: resetting a supply's output to guessed values is
    // not something to do on a client's behalf.
    errors.Push(ScpiError::UndefinedHeader);
    return command.query ? std::optional<QByteArray>(NotANumber) : std::nullopt;
}

bool ScpiInstrument::succeeded(SupplyOutcome outcome)
{
    if (outcome == SupplyOutcome::Done)
        return true;
    errors.Push(outcome == SupplyOutcome::NoReply ? ScpiError::HardwareMissing
                                                  : ScpiError::HardwareError);
    return false;
}

std::optional<QByteArray> ScpiInstrument::identify(const ScpiCommand &)
{
    return identity;
}

std::optional<QByteArray> ScpiInstrument::clearStatus(const ScpiCommand &)
{
    errors.Clear();
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::operationComplete(const ScpiCommand &)
{
    // Commands run one after the other and each is over when it returns.
    return QByteArray("1");
}

void ScpiInstrument::setSetpoint(const QByteArray &parameter, ScpiUnit unit)
{
    const ScpiNumber number = ReadScpiNumber(parameter, unit);
    double value = 0;
    switch (number.kind) {
    case ScpiNumber::Invalid:
        errors.Push(ScpiError::IllegalParameterValue);
        return;
    case ScpiNumber::Minimum:
        value = minimumOf(unit);
        break;
    case ScpiNumber::Maximum:
        value = maximumOf(unit);
        break;
    case ScpiNumber::Value:
        value = number.value;
        break;
    }
    if (!(value >= minimumOf(unit) && value <= maximumOf(unit))) {
        errors.Push(ScpiError::DataOutOfRange);
        return;
    }
    if (unit == ScpiUnit::Volt)
        succeeded(session.SetSetpoints(value, std::nullopt));
    else
        succeeded(session.SetSetpoints(std::nullopt, value));
}

QByteArray ScpiInstrument::setpoint(const ScpiCommand &command, ScpiUnit unit)
{
    if (!command.parameters.isEmpty()) {
        const ScpiNumber::Kind kind = ReadScpiNumber(command.parameters.first(), unit).kind;
        if (kind == ScpiNumber::Minimum)
            return fixed(minimumOf(unit), 3);
        if (kind == ScpiNumber::Maximum)
            return fixed(maximumOf(unit), 3);
        errors.Push(ScpiError::IllegalParameterValue);
        return NotANumber;
    }
    SetpointRecord setpoints;
    if (!succeeded(session.ReadSetpoints(setpoints)))
        return NotANumber;
    return fixed(unit == ScpiUnit::Volt ? SetpointVolts(setpoints) : SetpointAmperes(setpoints), 3);
}

std::optional<QByteArray> ScpiInstrument::setVoltage(const ScpiCommand &command)
{
    setSetpoint(command.parameters.first(), ScpiUnit::Volt);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::setCurrent(const ScpiCommand &command)
{
    setSetpoint(command.parameters.first(), ScpiUnit::Ampere);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::voltageSetpoint(const ScpiCommand &command)
{
    return setpoint(command, ScpiUnit::Volt);
}

std::optional<QByteArray> ScpiInstrument::currentSetpoint(const ScpiCommand &command)
{
    return setpoint(command, ScpiUnit::Ampere);
}

std::optional<QByteArray> ScpiInstrument::setOutput(const ScpiCommand &command)
{
    const QByteArray value = command.parameters.first().toUpper();
    if (value == "ON" || value == "1")
        succeeded(session.SetOutput(true));
    else if (value == "OFF" || value == "0")
        succeeded(session.SetOutput(false));
    else
        errors.Push(ScpiError::IllegalParameterValue);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::outputState(const ScpiCommand &)
{
    StatusRecord status;
    if (!succeeded(session.ReadStatus(status)))
        return QByteArray(NotANumber);
    return QByteArray(status.OutputOn ? "1" : "0");
}

std::optional<QByteArray> ScpiInstrument::outputMode(const ScpiCommand &)
{
    StatusRecord status;
    if (!succeeded(session.ReadStatus(status)))
        return QByteArray(NotANumber);
    if (!status.OutputOn)
        return QByteArray("OFF");
    return QByteArray(status.CcFlag ? "CC" : "CV");
}

std::optional<QByteArray> ScpiInstrument::measureVoltage(const ScpiCommand &)
{
    StatusRecord status;
    if (!succeeded(session.ReadStatus(status)))
        return QByteArray(NotANumber);
    return fixed(OutputVolts(status), 3);
}

std::optional<QByteArray> ScpiInstrument::measureCurrent(const ScpiCommand &)
{
    StatusRecord status;
    if (!succeeded(session.ReadStatus(status)))
        return QByteArray(NotANumber);
    return fixed(OutputAmperes(status), 4);
}

std::optional<QByteArray> ScpiInstrument::measurePower(const ScpiCommand &)
{
    StatusRecord status;
    if (!succeeded(session.ReadStatus(status)))
        return QByteArray(NotANumber);
    return fixed(OutputVolts(status) * OutputAmperes(status), 4);
}

std::optional<QByteArray> ScpiInstrument::measureTemperature(const ScpiCommand &)
{
    MeasurementRecord measurement;
    if (!succeeded(session.ReadMeasurements(measurement)))
        return QByteArray(NotANumber);
    return fixed(MeasuredCelsius(measurement), 1);
}

std::optional<QByteArray> ScpiInstrument::nextError(const ScpiCommand &)
{
    return errors.TakeNext();
}

std::optional<QByteArray> ScpiInstrument::version(const ScpiCommand &)
{
    return QByteArray("1999.0");
}
