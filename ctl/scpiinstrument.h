#pragma once

#include "records.h"
#include "scpierrors.h"
#include "scpimessage.h"
#include "scpinumber.h"

#include <QByteArray>
#include <QList>

#include <optional>

class SupplySession;
enum class SupplyOutcome;

// The supply as a SCPI instrument: carries out messages, command by command,
// on a SupplySession and keeps the one error queue and the status registers.
// Blocking: a command that needs the supply returns once its step with the
// supply is over.
class ScpiInstrument
{
public:
    // identity: the whole *IDN? response.
    ScpiInstrument(SupplySession &session, const QByteArray &identity);

    // Carries out one message (without its line end) and returns its response
    // line without the line end, or nothing when no query of it was carried
    // out. A query the supply could not answer responds 9.91E+37; one that is
    // malformed, unknown or has wrong parameters responds nothing and queues
    // its error, so that a client's next query reads its own answer.
    std::optional<QByteArray> Execute(const QByteArray &message);

    // Queues an error and sets its bit in the standard event status register.
    void QueueError(int code);

    // What a query answers when there is no value to give.
    static constexpr char NotANumber[] = "9.91E+37";

private:
    using Handler = std::optional<QByteArray> (ScpiInstrument::*)(const ScpiCommand &);
    struct Entry {
        ScpiHeader header;
        bool query;
        int minParameters;
        int maxParameters;
        Handler handler;
    };

    // The response of a query, nothing for a command; errors are queued.
    std::optional<QByteArray> carryOut(const ScpiCommand &command);

    std::optional<QByteArray> identify(const ScpiCommand &);
    std::optional<QByteArray> reset(const ScpiCommand &);
    std::optional<QByteArray> clearStatus(const ScpiCommand &);
    std::optional<QByteArray> operationCompleteQuery(const ScpiCommand &);
    std::optional<QByteArray> operationComplete(const ScpiCommand &);
    std::optional<QByteArray> nothing(const ScpiCommand &);
    std::optional<QByteArray> zero(const ScpiCommand &);
    std::optional<QByteArray> eventStatus(const ScpiCommand &);
    std::optional<QByteArray> setEventEnable(const ScpiCommand &command);
    std::optional<QByteArray> eventEnableQuery(const ScpiCommand &);
    std::optional<QByteArray> statusByte(const ScpiCommand &);
    std::optional<QByteArray> setServiceEnable(const ScpiCommand &command);
    std::optional<QByteArray> serviceEnableQuery(const ScpiCommand &);
    std::optional<QByteArray> setVoltage(const ScpiCommand &command);
    std::optional<QByteArray> setCurrent(const ScpiCommand &command);
    std::optional<QByteArray> voltageSetpoint(const ScpiCommand &command);
    std::optional<QByteArray> currentSetpoint(const ScpiCommand &command);
    std::optional<QByteArray> apply(const ScpiCommand &command);
    std::optional<QByteArray> applied(const ScpiCommand &);
    std::optional<QByteArray> setOutput(const ScpiCommand &command);
    std::optional<QByteArray> outputState(const ScpiCommand &);
    std::optional<QByteArray> outputMode(const ScpiCommand &);
    std::optional<QByteArray> measureVoltage(const ScpiCommand &);
    std::optional<QByteArray> measureCurrent(const ScpiCommand &);
    std::optional<QByteArray> measurePower(const ScpiCommand &);
    std::optional<QByteArray> measureAll(const ScpiCommand &);
    std::optional<QByteArray> measureTemperature(const ScpiCommand &);
    std::optional<QByteArray> nextError(const ScpiCommand &);
    std::optional<QByteArray> errorCount(const ScpiCommand &);
    std::optional<QByteArray> allErrors(const ScpiCommand &);
    std::optional<QByteArray> version(const ScpiCommand &);

    // A set-point parameter in volts or amperes (MIN and DEF the minimum,
    // MAX the maximum); nothing, with its error queued, when it is not one
    // or out of range.
    std::optional<double> setpointValue(const QByteArray &parameter, ScpiUnit unit);
    void setSetpoint(const QByteArray &parameter, ScpiUnit unit);
    // The set-point query's answer; with MIN or MAX the limit, without asking
    // the supply; nothing for another parameter.
    std::optional<QByteArray> setpoint(const ScpiCommand &command, ScpiUnit unit);
    // 0 to 255 for an enable register; nothing, with its error queued, else.
    std::optional<int> registerValue(const QByteArray &parameter);
    // Queues the error for a step that failed; true when it succeeded.
    bool succeeded(SupplyOutcome outcome);
    // The supply's status and set-points, read at most once per message:
    // queries of one message that need the same record share its read. A
    // write makes the next query read again.
    bool readStatus(StatusRecord &status);
    bool readSetpoints(SetpointRecord &setpoints);
    void forgetReads();

    SupplySession &session;
    QByteArray identity;
    ScpiErrorQueue errors;
    QList<Entry> table;
    int events = 0;         // standard event status register
    int eventEnable = 0;    // *ESE
    int serviceEnable = 0;  // *SRE
    // Responses of the message being carried out so far.
    QList<QByteArray> responses;
    std::optional<StatusRecord> messageStatus;
    std::optional<SetpointRecord> messageSetpoints;
};
