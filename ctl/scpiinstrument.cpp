#include "scpiinstrument.h"

#include "supplysession.h"
#include "units.h"

#include <cmath>

namespace {

// Bits of the status byte.
constexpr int ErrorQueueBit = 0x04;
constexpr int MessageAvailableBit = 0x10;
constexpr int EventStatusBit = 0x20;
constexpr int MasterSummaryBit = 0x40;  // the summary itself: never enabled

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
    const char *voltage = "[SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]";
    const char *current = "[SOURce#]:CURRent[:LEVel][:IMMediate][:AMPLitude]";
    table = {
        {ScpiHeader("*IDN"), true, 0, 0, &ScpiInstrument::identify},
        {ScpiHeader("*RST"), false, 0, 0, &ScpiInstrument::reset},
        {ScpiHeader("*CLS"), false, 0, 0, &ScpiInstrument::clearStatus},
        {ScpiHeader("*OPC"), true, 0, 0, &ScpiInstrument::operationCompleteQuery},
        {ScpiHeader("*OPC"), false, 0, 0, &ScpiInstrument::operationComplete},
        // Commands already run one after the other.
        {ScpiHeader("*WAI"), false, 0, 0, &ScpiInstrument::nothing},
        {ScpiHeader("*TST"), true, 0, 0, &ScpiInstrument::zero},
        {ScpiHeader("*OPT"), true, 0, 0, &ScpiInstrument::zero},
        {ScpiHeader("*ESR"), true, 0, 0, &ScpiInstrument::eventStatus},
        {ScpiHeader("*ESE"), false, 1, 1, &ScpiInstrument::setEventEnable},
        {ScpiHeader("*ESE"), true, 0, 0, &ScpiInstrument::eventEnableQuery},
        {ScpiHeader("*STB"), true, 0, 0, &ScpiInstrument::statusByte},
        {ScpiHeader("*SRE"), false, 1, 1, &ScpiInstrument::setServiceEnable},
        {ScpiHeader("*SRE"), true, 0, 0, &ScpiInstrument::serviceEnableQuery},
        {ScpiHeader(voltage), false, 1, 1, &ScpiInstrument::setVoltage},
        {ScpiHeader(voltage), true, 0, 1, &ScpiInstrument::voltageSetpoint},
        {ScpiHeader(current), false, 1, 1, &ScpiInstrument::setCurrent},
        {ScpiHeader(current), true, 0, 1, &ScpiInstrument::currentSetpoint},
        {ScpiHeader("APPLy"), false, 1, 2, &ScpiInstrument::apply},
        {ScpiHeader("APPLy"), true, 0, 0, &ScpiInstrument::applied},
        {ScpiHeader("OUTPut#[:STATe]"), false, 1, 1, &ScpiInstrument::setOutput},
        {ScpiHeader("OUTPut#[:STATe]"), true, 0, 0, &ScpiInstrument::outputState},
        {ScpiHeader("OUTPut#:MODE"), true, 0, 0, &ScpiInstrument::outputMode},
        {ScpiHeader("MEASure#[:SCALar]:VOLTage[:DC]"), true, 0, 0, &ScpiInstrument::measureVoltage},
        {ScpiHeader("MEASure#[:SCALar]:CURRent[:DC]"), true, 0, 0, &ScpiInstrument::measureCurrent},
        {ScpiHeader("MEASure#[:SCALar]:POWer[:DC]"), true, 0, 0, &ScpiInstrument::measurePower},
        {ScpiHeader("MEASure#[:SCALar]:ALL[:DC]"), true, 0, 0, &ScpiInstrument::measureAll},
        {ScpiHeader("MEASure#:TEMPerature"), true, 0, 0, &ScpiInstrument::measureTemperature},
        {ScpiHeader("SYSTem:ERRor[:NEXT]"), true, 0, 0, &ScpiInstrument::nextError},
        {ScpiHeader("SYSTem:ERRor:COUNt"), true, 0, 0, &ScpiInstrument::errorCount},
        {ScpiHeader("SYSTem:ERRor:ALL"), true, 0, 0, &ScpiInstrument::allErrors},
        {ScpiHeader("SYSTem:VERSion"), true, 0, 0, &ScpiInstrument::version},
        // Scripts written for serial instruments send these; over TCP there
        // is no front panel to lock.
        {ScpiHeader("SYSTem:REMote"), false, 0, 0, &ScpiInstrument::nothing},
        {ScpiHeader("SYSTem:LOCal"), false, 0, 0, &ScpiInstrument::nothing},
        {ScpiHeader("SYSTem:RWLock"), false, 0, 0, &ScpiInstrument::nothing},
    };
}

std::optional<QByteArray> ScpiInstrument::Execute(const QByteArray &message)
{
    forgetReads();
    responses.clear();
    for (const ScpiCommand &command : ParseScpiMessage(message)) {
        if (command.syntaxError) {
            QueueError(ScpiError::Syntax);
            break;
        }
        const std::optional<QByteArray> response = carryOut(command);
        if (response)
            responses.append(*response);
    }
    if (responses.isEmpty())
        return std::nullopt;
    return responses.join(';');
}

void ScpiInstrument::QueueError(int code)
{
    errors.Push(code);
    events |= ScpiError::EventBit(code);
}

std::optional<QByteArray> ScpiInstrument::carryOut(const ScpiCommand &command)
{
    for (const Entry &entry : table) {
        if (entry.query != command.query || !entry.header.Matches(command.nodes))
            continue;
        if (command.parameters.size() > entry.maxParameters)
            QueueError(ScpiError::ParameterNotAllowed);
        else if (command.parameters.size() < entry.minParameters)
            QueueError(ScpiError::MissingParameter);
        else
            return (this->*entry.handler)(command);
        return std::nullopt;
    }
    QueueError(ScpiError::UndefinedHeader);
    return std::nullopt;
}

bool ScpiInstrument::succeeded(SupplyOutcome outcome)
{
    if (outcome == SupplyOutcome::Done)
        return true;
    QueueError(outcome == SupplyOutcome::NoReply ? ScpiError::HardwareMissing
                                                 : ScpiError::HardwareError);
    return false;
}

bool ScpiInstrument::readStatus(StatusRecord &status)
{
    if (!messageStatus) {
        StatusRecord read;
        if (!succeeded(session.ReadStatus(read)))
            return false;
        messageStatus = read;
    }
    status = *messageStatus;
    return true;
}

bool ScpiInstrument::readSetpoints(SetpointRecord &setpoints)
{
    if (!messageSetpoints) {
        SetpointRecord read;
        if (!succeeded(session.ReadSetpoints(read)))
            return false;
        messageSetpoints = read;
    }
    setpoints = *messageSetpoints;
    return true;
}

void ScpiInstrument::forgetReads()
{
    messageStatus.reset();
    messageSetpoints.reset();
}

std::optional<QByteArray> ScpiInstrument::identify(const ScpiCommand &)
{
    return identity;
}

std::optional<QByteArray> ScpiInstrument::reset(const ScpiCommand &)
{
    // The reset state: output off first, so that the supply never drives the
    // load while the set-points change; then both set-points at their
    // minimum. Each step is confirmed by reading back; the set-points are
    // lowered even when switching off failed.
    forgetReads();
    succeeded(session.SetOutput(false));
    succeeded(session.SetSetpoints(MinSetpointVolts, MinSetpointAmperes));
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::clearStatus(const ScpiCommand &)
{
    errors.Clear();
    events = 0;
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::operationCompleteQuery(const ScpiCommand &)
{
    // Commands run one after the other and each is over when it returns.
    return QByteArray("1");
}

std::optional<QByteArray> ScpiInstrument::operationComplete(const ScpiCommand &)
{
    events |= ScpiError::OperationCompleteBit;
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::nothing(const ScpiCommand &)
{
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::zero(const ScpiCommand &)
{
    return QByteArray("0");
}

std::optional<QByteArray> ScpiInstrument::eventStatus(const ScpiCommand &)
{
    const int value = events;
    events = 0;
    return QByteArray::number(value);
}

std::optional<int> ScpiInstrument::registerValue(const QByteArray &parameter)
{
    bool ok = false;
    const double value = parameter.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        QueueError(ScpiError::IllegalParameterValue);
        return std::nullopt;
    }
    const double rounded = std::round(value);
    if (rounded < 0 || rounded > 255) {
        QueueError(ScpiError::DataOutOfRange);
        return std::nullopt;
    }
    return int(rounded);
}

std::optional<QByteArray> ScpiInstrument::setEventEnable(const ScpiCommand &command)
{
    if (const std::optional<int> value = registerValue(command.parameters.first()))
        eventEnable = *value;
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::eventEnableQuery(const ScpiCommand &)
{
    return QByteArray::number(eventEnable);
}

std::optional<QByteArray> ScpiInstrument::statusByte(const ScpiCommand &)
{
    int status = 0;
    if (errors.Count() > 0)
        status |= ErrorQueueBit;
    // Only what this message has answered so far can still wait for the
    // client: an earlier message's response went out whole.
    if (!responses.isEmpty())
        status |= MessageAvailableBit;
    if (events & eventEnable)
        status |= EventStatusBit;
    if (status & serviceEnable & ~MasterSummaryBit)
        status |= MasterSummaryBit;
    return QByteArray::number(status);
}

std::optional<QByteArray> ScpiInstrument::setServiceEnable(const ScpiCommand &command)
{
    if (const std::optional<int> value = registerValue(command.parameters.first()))
        serviceEnable = *value & ~MasterSummaryBit;
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::serviceEnableQuery(const ScpiCommand &)
{
    return QByteArray::number(serviceEnable);
}

std::optional<double> ScpiInstrument::setpointValue(const QByteArray &parameter, ScpiUnit unit)
{
    const ScpiNumber number = ReadScpiNumber(parameter, unit);
    double value = 0;
    switch (number.kind) {
    case ScpiNumber::Invalid:
        QueueError(ScpiError::IllegalParameterValue);
        return std::nullopt;
    case ScpiNumber::Minimum:
    case ScpiNumber::Default:
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
        QueueError(ScpiError::DataOutOfRange);
        return std::nullopt;
    }
    return value;
}

void ScpiInstrument::setSetpoint(const QByteArray &parameter, ScpiUnit unit)
{
    const std::optional<double> value = setpointValue(parameter, unit);
    if (!value)
        return;
    forgetReads();
    if (unit == ScpiUnit::Volt)
        succeeded(session.SetSetpoints(*value, std::nullopt));
    else
        succeeded(session.SetSetpoints(std::nullopt, *value));
}

std::optional<QByteArray> ScpiInstrument::setpoint(const ScpiCommand &command, ScpiUnit unit)
{
    if (!command.parameters.isEmpty()) {
        const ScpiNumber::Kind kind = ReadScpiNumber(command.parameters.first(), unit).kind;
        if (kind == ScpiNumber::Minimum || kind == ScpiNumber::Default)
            return fixed(minimumOf(unit), 3);
        if (kind == ScpiNumber::Maximum)
            return fixed(maximumOf(unit), 3);
        QueueError(ScpiError::IllegalParameterValue);
        return std::nullopt;
    }
    SetpointRecord setpoints;
    if (!readSetpoints(setpoints))
        return QByteArray(NotANumber);
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

std::optional<QByteArray> ScpiInstrument::apply(const ScpiCommand &command)
{
    // Both values are checked before anything is sent: one set-point write.
    const std::optional<double> volts = setpointValue(command.parameters.first(), ScpiUnit::Volt);
    if (!volts)
        return std::nullopt;
    std::optional<double> amperes;
    if (command.parameters.size() > 1) {
        amperes = setpointValue(command.parameters.at(1), ScpiUnit::Ampere);
        if (!amperes)
            return std::nullopt;
    }
    forgetReads();
    succeeded(session.SetSetpoints(volts, amperes));
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::applied(const ScpiCommand &)
{
    SetpointRecord setpoints;
    if (!readSetpoints(setpoints))
        return QByteArray(NotANumber);
    return '"' + fixed(SetpointVolts(setpoints), 3) + ',' + fixed(SetpointAmperes(setpoints), 3)
           + '"';
}

std::optional<QByteArray> ScpiInstrument::setOutput(const ScpiCommand &command)
{
    const QByteArray value = command.parameters.first().toUpper();
    forgetReads();
    if (value == "ON" || value == "1")
        succeeded(session.SetOutput(true));
    else if (value == "OFF" || value == "0")
        succeeded(session.SetOutput(false));
    else
        QueueError(ScpiError::IllegalParameterValue);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::outputState(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    return QByteArray(status.OutputOn ? "1" : "0");
}

std::optional<QByteArray> ScpiInstrument::outputMode(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    if (!status.OutputOn)
        return QByteArray("OFF");
    return QByteArray(status.CcFlag ? "CC" : "CV");
}

std::optional<QByteArray> ScpiInstrument::measureVoltage(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    return fixed(OutputVolts(status), 3);
}

std::optional<QByteArray> ScpiInstrument::measureCurrent(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    return fixed(OutputAmperes(status), 4);
}

std::optional<QByteArray> ScpiInstrument::measurePower(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    return fixed(OutputVolts(status) * OutputAmperes(status), 4);
}

std::optional<QByteArray> ScpiInstrument::measureAll(const ScpiCommand &)
{
    StatusRecord status;
    if (!readStatus(status))
        return QByteArray(NotANumber);
    const double volts = OutputVolts(status);
    const double amperes = OutputAmperes(status);
    return fixed(volts, 3) + ',' + fixed(amperes, 4) + ',' + fixed(volts * amperes, 4);
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

std::optional<QByteArray> ScpiInstrument::errorCount(const ScpiCommand &)
{
    return QByteArray::number(errors.Count());
}

std::optional<QByteArray> ScpiInstrument::allErrors(const ScpiCommand &)
{
    QList<QByteArray> all{errors.TakeNext()};
    while (errors.Count() > 0)
        all.append(errors.TakeNext());
    return all.join(',');
}

std::optional<QByteArray> ScpiInstrument::version(const ScpiCommand &)
{
    return QByteArray("1999.0");
}
