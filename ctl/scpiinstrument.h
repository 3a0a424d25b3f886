#pragma once

#include "scpierrors.h"
#include "scpimessage.h"
#include "scpinumber.h"

#include <QByteArray>
#include <QList>

#include <optional>

class SupplySession;
enum class SupplyOutcome;

// The supply as a SCPI instrument: carries out messages, command by command,
// on a SupplySession and keeps the one error queue. Blocking: a command that
// needs the supply returns once its step with the supply is over.
class ScpiInstrument
{
public:
    // identity: the whole *IDN? response.
    ScpiInstrument(SupplySession &session, const QByteArray &identity);

    // Carries out one message (without its line end) and returns its response
    // line without the line end, or nothing when the message held no query.
    // Every query of the message answers, with 9.91E+37 when it fails.
    std::optional<QByteArray> Execute(const QByteArray &message);

    ScpiErrorQueue &Errors() { return errors; }

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
    std::optional<QByteArray> clearStatus(const ScpiCommand &);
    std::optional<QByteArray> operationComplete(const ScpiCommand &);
    std::optional<QByteArray> setVoltage(const ScpiCommand &command);
    std::optional<QByteArray> setCurrent(const ScpiCommand &command);
    std::optional<QByteArray> voltageSetpoint(const ScpiCommand &command);
    std::optional<QByteArray> currentSetpoint(const ScpiCommand &command);
    std::optional<QByteArray> setOutput(const ScpiCommand &command);
    std::optional<QByteArray> outputState(const ScpiCommand &);
    std::optional<QByteArray> outputMode(const ScpiCommand &);
    std::optional<QByteArray> measureVoltage(const ScpiCommand &);
    std::optional<QByteArray> measureCurrent(const ScpiCommand &);
    std::optional<QByteArray> measurePower(const ScpiCommand &);
    std::optional<QByteArray> measureTemperature(const ScpiCommand &);
    std::optional<QByteArray> nextError(const ScpiCommand &);
    std::optional<QByteArray> version(const ScpiCommand &);

    void setSetpoint(const QByteArray &parameter, ScpiUnit unit);
    // The set-point query's answer; with MIN or MAX the limit, without asking
    // the supply.
    QByteArray setpoint(const ScpiCommand &command, ScpiUnit unit);
    // Queues the error for a step that failed; true when it succeeded.
    bool succeeded(SupplyOutcome outcome);

    SupplySession &session;
    QByteArray identity;
    ScpiErrorQueue errors;
    QList<Entry> table;
};
