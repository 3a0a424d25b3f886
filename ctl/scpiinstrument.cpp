#include "scpiinstrument.h"

#include "supplysession.h"
#include "units.h"

#include <cmath>
#include <utility>

namespace {

// Bits of the status byte.
constexpr int ErrorQueueBit = 0x04;
constexpr int MessageAvailableBit = 0x10;
constexpr int EventStatusBit = 0x20;
constexpr int MasterSummaryBit = 0x40;  // the summary itself: never enabled
constexpr int QuestionableSummaryBit = 0x08;
constexpr int OperationSummaryBit = 0x80;
// One step of a set-point, in thousandths of a volt or an ampere.
constexpr double StepsPerUnit = 1000;

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
        {ScpiHeader("*IDN"), true, 0, 0, method(&ScpiInstrument::identify)},
        {ScpiHeader("*RST"), false, 0, 0, method(&ScpiInstrument::reset)},
        {ScpiHeader("*CLS"), false, 0, 0, method(&ScpiInstrument::clearStatus)},
        {ScpiHeader("*OPC"), true, 0, 0, method(&ScpiInstrument::operationCompleteQuery)},
        {ScpiHeader("*OPC"), false, 0, 0, method(&ScpiInstrument::operationComplete)},
        // Commands already run one after the other.
        {ScpiHeader("*WAI"), false, 0, 0, method(&ScpiInstrument::nothing)},
        {ScpiHeader("*TST"), true, 0, 0, method(&ScpiInstrument::zero)},
        {ScpiHeader("*OPT"), true, 0, 0, method(&ScpiInstrument::zero)},
        {ScpiHeader("*ESR"), true, 0, 0, method(&ScpiInstrument::eventStatus)},
        {ScpiHeader("*ESE"), false, 1, 1, method(&ScpiInstrument::setEventEnable)},
        {ScpiHeader("*ESE"), true, 0, 0, method(&ScpiInstrument::eventEnableQuery)},
        {ScpiHeader("*STB"), true, 0, 0, method(&ScpiInstrument::statusByte)},
        {ScpiHeader("*SRE"), false, 1, 1, method(&ScpiInstrument::setServiceEnable)},
        {ScpiHeader("*SRE"), true, 0, 0, method(&ScpiInstrument::serviceEnableQuery)},
        {ScpiHeader(voltage), false, 1, 1, method(&ScpiInstrument::setVoltage)},
        {ScpiHeader(voltage), true, 0, 1, method(&ScpiInstrument::voltageSetpoint)},
        {ScpiHeader(current), false, 1, 1, method(&ScpiInstrument::setCurrent)},
        {ScpiHeader(current), true, 0, 1, method(&ScpiInstrument::currentSetpoint)},
        {ScpiHeader("APPLy"), false, 1, 2, method(&ScpiInstrument::apply)},
        {ScpiHeader("APPLy"), true, 0, 0, method(&ScpiInstrument::applied)},
        {ScpiHeader("OUTPut#[:STATe]"), false, 1, 1, method(&ScpiInstrument::setOutput)},
        {ScpiHeader("OUTPut#[:STATe]"), true, 0, 0, method(&ScpiInstrument::outputState)},
        {ScpiHeader("OUTPut#:MODE"), true, 0, 0, method(&ScpiInstrument::outputMode)},
        {ScpiHeader("MEASure#[:SCALar]:VOLTage[:DC]"), true, 0, 0, method(&ScpiInstrument::measureVoltage)},
        {ScpiHeader("MEASure#[:SCALar]:CURRent[:DC]"), true, 0, 0, method(&ScpiInstrument::measureCurrent)},
        {ScpiHeader("MEASure#[:SCALar]:POWer[:DC]"), true, 0, 0, method(&ScpiInstrument::measurePower)},
        {ScpiHeader("MEASure#[:SCALar]:ALL[:DC]"), true, 0, 0, method(&ScpiInstrument::measureAll)},
        {ScpiHeader("MEASure#:TEMPerature"), true, 0, 0, method(&ScpiInstrument::measureTemperature)},
        {ScpiHeader("SYSTem:ERRor[:NEXT]"), true, 0, 0, method(&ScpiInstrument::nextError)},
        {ScpiHeader("SYSTem:ERRor:COUNt"), true, 0, 0, method(&ScpiInstrument::errorCount)},
        {ScpiHeader("SYSTem:ERRor:ALL"), true, 0, 0, method(&ScpiInstrument::allErrors)},
        {ScpiHeader("SYSTem:VERSion"), true, 0, 0, method(&ScpiInstrument::version)},
        // Scripts written for serial instruments send these; over TCP there
        // is no front panel to lock.
        {ScpiHeader("SYSTem:REMote"), false, 0, 0, method(&ScpiInstrument::nothing)},
        {ScpiHeader("SYSTem:LOCal"), false, 0, 0, method(&ScpiInstrument::nothing)},
        {ScpiHeader("SYSTem:RWLock"), false, 0, 0, method(&ScpiInstrument::nothing)},
        {ScpiHeader("STATus:PRESet"), false, 0, 0, method(&ScpiInstrument::presetStatus)},
    };
    addStatusGroup("OPERation", operation, &ScpiInstrument::refreshOperation);
    addStatusGroup("QUEStionable", questionable, &ScpiInstrument::refreshQuestionable);
    // The line's write policy bounds each step's tries by the supply's
    // silence; between two tries the server serves its other clients.
    session.SetSilenceBounded(true);
    session.SetAfterFailedTry([this](LinkResult) {
        if (this->serveOthers && !inGap && !tryingOnce) {
            const bool once = this->session.TryingOnce();
            inGap = true;
            this->serveOthers();
            inGap = false;
            this->session.SetTryOnce(once);
        }
        return true;
    });
}

ScpiInstrument::~ScpiInstrument()
{
    session.SetAfterFailedTry({});
    session.SetSilenceBounded(false);
    session.SetTryOnce(false);
}

DeviceLink &ScpiInstrument::Line()
{
    return session.Link();
}

void ScpiInstrument::SetBetweenTries(std::function<void()> serve)
{
    serveOthers = std::move(serve);
}

ScpiInstrument::Handler ScpiInstrument::method(Method handler)
{
    return [this, handler](const ScpiCommand &command) { return (this->*handler)(command); };
}

void ScpiInstrument::addStatusGroup(const char *name, ScpiStatusRegister &group,
                                    void (ScpiInstrument::*refresh)())
{
    const QByteArray root = QByteArray("STATus:") + name;
    const auto setter = [this, &group](void (ScpiStatusRegister::*set)(int)) {
        return [this, &group, set](const ScpiCommand &command) -> std::optional<QByteArray> {
            if (const std::optional<int> value = registerValue(command.parameters.first(), 65535))
                (group.*set)(*value);
            return std::nullopt;
        };
    };
    const auto getter = [&group](int (ScpiStatusRegister::*get)() const) {
        return [&group, get](const ScpiCommand &) -> std::optional<QByteArray> {
            return QByteArray::number((group.*get)());
        };
    };
    table.append({ScpiHeader(root + "[:EVENt]"), true, 0, 0,
                  [this, &group, refresh](const ScpiCommand &) -> std::optional<QByteArray> {
                      (this->*refresh)();
                      return QByteArray::number(group.TakeEvents());
                  }});
    table.append({ScpiHeader(root + ":CONDition"), true, 0, 0,
                  [this, &group, refresh](const ScpiCommand &) -> std::optional<QByteArray> {
                      (this->*refresh)();
                      return QByteArray::number(group.Condition());
                  }});
    table.append({ScpiHeader(root + ":ENABle"), false, 1, 1, setter(&ScpiStatusRegister::SetEnable)});
    table.append({ScpiHeader(root + ":ENABle"), true, 0, 0, getter(&ScpiStatusRegister::Enable)});
    table.append({ScpiHeader(root + ":PTRansition"), false, 1, 1,
                  setter(&ScpiStatusRegister::SetPositiveFilter)});
    table.append({ScpiHeader(root + ":PTRansition"), true, 0, 0,
                  getter(&ScpiStatusRegister::PositiveFilter)});
    table.append({ScpiHeader(root + ":NTRansition"), false, 1, 1,
                  setter(&ScpiStatusRegister::SetNegativeFilter)});
    table.append({ScpiHeader(root + ":NTRansition"), true, 0, 0,
                  getter(&ScpiStatusRegister::NegativeFilter)});
}

std::optional<QByteArray> ScpiInstrument::Execute(const QByteArray &text)
{
    // Another message may be carried out between the tries of one of this
    // message's steps; each keeps its own state, and the suspended one reads
    // again what the other may have changed.
    MessageState suspended = std::exchange(message, MessageState());
    for (const ScpiCommand &command : ParseScpiMessage(text)) {
        if (command.syntaxError) {
            QueueError(ScpiError::Syntax);
            break;
        }
        const std::optional<QByteArray> response = carryOut(command);
        if (response)
            message.responses.append(*response);
    }
    std::optional<QByteArray> result;
    if (!message.responses.isEmpty())
        result = message.responses.join(';');
    message = std::move(suspended);
    forgetReads();
    return result;
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
            return entry.handler(command);
        return std::nullopt;
    }
    QueueError(ScpiError::UndefinedHeader);
    return std::nullopt;
}

bool ScpiInstrument::ask(bool read, const std::function<SupplyOutcome()> &step)
{
    const int skip = message.gaveUp;
    if (skip != ScpiError::NoError && (read || skip == ScpiError::HardwareMissing)) {
        QueueError(skip);
        return false;
    }
    session.SetTryOnce(inGap || tryingOnce);
    const SupplyOutcome outcome = step();
    const bool silent = outcome == SupplyOutcome::NoReply;
    AnsweringSeen(!silent);
    if (outcome == SupplyOutcome::Done)
        return true;
    const int code = silent ? ScpiError::HardwareMissing : ScpiError::HardwareError;
    QueueError(code);
    if (read || silent)
        message.gaveUp = code;
    return false;
}

bool ScpiInstrument::readStatus(StatusRecord &status)
{
    if (!message.status) {
        StatusRecord read;
        if (!ask(true, [&] { return session.ReadStatus(read); }))
            return false;
        message.status = read;
        StatusSeen(read);
    }
    status = *message.status;
    return true;
}

bool ScpiInstrument::readSetpoints(SetpointRecord &setpoints)
{
    if (!message.setpoints) {
        SetpointRecord read;
        if (!ask(true, [&] { return session.ReadSetpoints(read); }))
            return false;
        message.setpoints = read;
    }
    setpoints = *message.setpoints;
    return true;
}

bool ScpiInstrument::readMeasurement(MeasurementRecord &measurement)
{
    if (!message.measurement) {
        MeasurementRecord read;
        if (!ask(true, [&] { return session.ReadMeasurements(read); }))
            return false;
        message.measurement = read;
        MeasurementSeen(read);
    }
    measurement = *message.measurement;
    return true;
}

void ScpiInstrument::StatusSeen(const StatusRecord &status)
{
    int conditions = 0;
    if (status.OutputOn)
        conditions = OutputOnBit | (status.CcFlag ? ConstantCurrentBit : ConstantVoltageBit);
    operation.SetCondition(conditions);
}

void ScpiInstrument::MeasurementSeen(const MeasurementRecord &measurement)
{
    questionable.SetConditionBits(OverTemperatureBit,
                                  MeasuredCelsius(measurement) > OverTemperatureCelsius);
}

void ScpiInstrument::AnsweringSeen(bool answering)
{
    questionable.SetConditionBits(NotAnsweringBit, !answering);
}

void ScpiInstrument::refreshOperation()
{
    StatusRecord status;
    readStatus(status);
}

void ScpiInstrument::refreshQuestionable()
{
    MeasurementRecord measurement;
    readMeasurement(measurement);
}

void ScpiInstrument::forgetReads()
{
    message.status.reset();
    message.setpoints.reset();
    message.measurement.reset();
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
    ask(false, [&] { return session.SetOutput(false); });
    ask(false, [&] { return session.SetSetpoints(MinSetpointVolts, MinSetpointAmperes); });
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::clearStatus(const ScpiCommand &)
{
    errors.Clear();
    events = 0;
    operation.ClearEvents();
    questionable.ClearEvents();
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

std::optional<int> ScpiInstrument::registerValue(const QByteArray &parameter, int maximum)
{
    const ScpiNumber number = ReadScpiNumber(parameter, ScpiUnit::None);
    if (number.kind == ScpiNumber::SuffixNotAllowed) {
        QueueError(ScpiError::SuffixNotAllowed);
        return std::nullopt;
    }
    if (number.kind == ScpiNumber::ParameterNotAllowed) {
        QueueError(ScpiError::ParameterNotAllowed);
        return std::nullopt;
    }
    if (number.kind != ScpiNumber::Value) {
        QueueError(ScpiError::IllegalParameterValue);
        return std::nullopt;
    }
    const double rounded = std::round(number.value);
    if (!(rounded >= 0 && rounded <= maximum)) {
        QueueError(ScpiError::DataOutOfRange);
        return std::nullopt;
    }
    return int(rounded);
}

std::optional<QByteArray> ScpiInstrument::setEventEnable(const ScpiCommand &command)
{
    if (const std::optional<int> value = registerValue(command.parameters.first(), 255))
        eventEnable = *value;
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::eventEnableQuery(const ScpiCommand &)
{
    return QByteArray::number(eventEnable);
}

std::optional<QByteArray> ScpiInstrument::statusByte(const ScpiCommand &)
{
    // First, as its errors count too.
    refreshOperation();
    refreshQuestionable();
    int status = 0;
    if (errors.Count() > 0)
        status |= ErrorQueueBit;
    // Only what this message has answered so far can still wait for the
    // client: an earlier message's response went out whole.
    if (!message.responses.isEmpty())
        status |= MessageAvailableBit;
    if (questionable.Summary())
        status |= QuestionableSummaryBit;
    if (operation.Summary())
        status |= OperationSummaryBit;
    if (events & eventEnable)
        status |= EventStatusBit;
    if (status & serviceEnable & ~MasterSummaryBit)
        status |= MasterSummaryBit;
    return QByteArray::number(status);
}

std::optional<QByteArray> ScpiInstrument::setServiceEnable(const ScpiCommand &command)
{
    if (const std::optional<int> value = registerValue(command.parameters.first(), 255))
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
    case ScpiNumber::InvalidSuffix:
    case ScpiNumber::SuffixNotAllowed:
        QueueError(ScpiError::InvalidSuffix);
        return std::nullopt;
    case ScpiNumber::ParameterNotAllowed:
        QueueError(ScpiError::ParameterNotAllowed);
        return std::nullopt;
    case ScpiNumber::Minimum:
    case ScpiNumber::Default:
        value = minimumOf(unit);
        break;
    case ScpiNumber::Maximum:
        value = maximumOf(unit);
        break;
    case ScpiNumber::Value:
        // To the nearest step the supply takes, halves up, and then checked:
        // 30.0004 V is 30.000 V. The small margin keeps a decimal half that
        // the binary fraction puts just below it a half.
        value = std::floor(number.value * StepsPerUnit + 0.5 + 1e-6) / StepsPerUnit;
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
        ask(false, [&] { return session.SetSetpoints(*value, std::nullopt); });
    else
        ask(false, [&] { return session.SetSetpoints(std::nullopt, *value); });
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
    ask(false, [&] { return session.SetSetpoints(volts, amperes); });
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
    const ScpiNumber on = ReadScpiBoolean(command.parameters.first());
    switch (on.kind) {
    case ScpiNumber::Value:
        forgetReads();
        ask(false, [&] { return session.SetOutput(on.value != 0); });
        break;
    case ScpiNumber::SuffixNotAllowed:
        QueueError(ScpiError::SuffixNotAllowed);
        break;
    case ScpiNumber::ParameterNotAllowed:
        QueueError(ScpiError::ParameterNotAllowed);
        break;
    default:
        QueueError(ScpiError::IllegalParameterValue);
        break;
    }
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
    if (!readMeasurement(measurement))
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

std::optional<QByteArray> ScpiInstrument::presetStatus(const ScpiCommand &)
{
    operation.Preset();
    questionable.Preset();
    return std::nullopt;
}
