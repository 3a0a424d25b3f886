#pragma once

#include "records.h"
#include "scpierrors.h"
#include "scpimessage.h"
#include "scpinumber.h"
#include "scpistatusregister.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

class DeviceLink;
class SupplySession;
enum class SupplyOutcome;

// The supply as a SCPI instrument: carries out messages, command by command,
// on a SupplySession and keeps the one error queue and the status registers.
// Blocking: a command that needs the supply returns once its step with the
// supply is over.
//
// Time per message is bounded against a supply that does not answer: a step
// with the supply is tried until four tries in a row got no reply, counting
// the tries of other messages carried out between its own; once a step of a
// message failed, the rest of its reads (and after no reply, its writes)
// fail at once with their errors queued; while the supply has stayed silent
// each step is tried once.
class ScpiInstrument
{
public:
    // Bits of STATus:OPERation (8 to 10 are the instrument's own in SCPI-99).
    static constexpr int ConstantVoltageBit = 0x100;
    static constexpr int ConstantCurrentBit = 0x200;
    static constexpr int OutputOnBit = 0x400;
    // Bits of STATus:QUEStionable: 4 is SCPI-99's TEMPerature, 9 the
    // instrument's own.
    static constexpr int OverTemperatureBit = 0x10;
    static constexpr int NotAnsweringBit = 0x200;
    // The supply's internal temperature above which OverTemperatureBit is set.
    static constexpr double OverTemperatureCelsius = 75.0;

    // identity: the whole *IDN? response.
    ScpiInstrument(SupplySession &session, const QByteArray &identity);
    // Takes its hook off the session, which other commands may use on.
    ~ScpiInstrument();
    // The link of the line the supply is on.
    DeviceLink &Line();

    // Called after a failed try of a step with the supply, with the step's
    // message suspended: the server carries out other clients' messages
    // there, so that they wait at most one try; each of their steps is tried
    // once. Execute() is called again from inside it.
    void SetBetweenTries(std::function<void()> serveOthers);
    // The hook set last, so that another front end can put its own in place
    // for one message and give this one back after.
    const std::function<void()> &BetweenTries() const { return serveOthers; }
    // While a message of another instrument on the same line waits between
    // two tries: each step is tried once, as that instrument's own other
    // messages are then, and makes no room for others.
    void SetTryingOnce(bool once) { tryingOnce = once; }

    // Carries out one message (without its line end) and returns its response
    // line without the line end, or nothing when no query of it was carried
    // out. A query the supply could not answer responds 9.91E+37; one that is
    // malformed, unknown or has wrong parameters responds nothing and queues
    // its error, so that a client's next query reads its own answer.
    std::optional<QByteArray> Execute(const QByteArray &message);

    // What the supply was seen to report, which alone moves the status
    // conditions: a silence leaves those the supply reports at their last
    // known values and raises NotAnsweringBit, so an event latches only on
    // an edge seen in real readings (a stall with the output on in CV is no
    // OPERation event). The instrument's own reads feed them; a state of the
    // line shared with its other users can feed them too.
    void StatusSeen(const StatusRecord &status);
    void MeasurementSeen(const MeasurementRecord &measurement);
    void AnsweringSeen(bool answering);

    // Queues an error and sets its bit in the standard event status register.
    void QueueError(int code);

    // What a query answers when there is no value to give.
    static constexpr char NotANumber[] = "9.91E+37";

private:
    using Handler = std::function<std::optional<QByteArray>(const ScpiCommand &)>;
    using Method = std::optional<QByteArray> (ScpiInstrument::*)(const ScpiCommand &);
    struct Entry {
        ScpiHeader header;
        bool query;
        int minParameters;
        int maxParameters;
        Handler handler;
    };

    // What a message carries along while it is carried out.
    struct MessageState {
        QList<QByteArray> responses;  // of its queries so far
        // Records read for it: queries of one message that need the same
        // record share its read; a write makes the next query read again.
        std::optional<StatusRecord> status;
        std::optional<SetpointRecord> setpoints;
        std::optional<MeasurementRecord> measurement;
        // Once a step failed: the error the rest of its reads queue at once
        // (and its writes too when it is -241, no reply).
        int gaveUp = ScpiError::NoError;
    };

    Handler method(Method handler);
    void addStatusGroup(const char *name, ScpiStatusRegister &group, void (ScpiInstrument::*refresh)());
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
    std::optional<QByteArray> presetStatus(const ScpiCommand &);

    // A set-point parameter in volts or amperes (MIN and DEF the minimum,
    // MAX the maximum); nothing, with its error queued, when it is not one
    // or out of range.
    std::optional<double> setpointValue(const QByteArray &parameter, ScpiUnit unit);
    void setSetpoint(const QByteArray &parameter, ScpiUnit unit);
    // The set-point query's answer; with MIN or MAX the limit, without asking
    // the supply; nothing for another parameter.
    std::optional<QByteArray> setpoint(const ScpiCommand &command, ScpiUnit unit);
    // 0 to maximum for a register; nothing, with its error queued, else.
    std::optional<int> registerValue(const QByteArray &parameter, int maximum);
    // One step with the supply under the message's time rule: false, with
    // its error queued, when it failed or was not tried.
    bool ask(bool read, const std::function<SupplyOutcome()> &step);
    // The supply's records, read at most once per message; each read brings
    // the status conditions that come from it up to date.
    bool readStatus(StatusRecord &status);
    bool readSetpoints(SetpointRecord &setpoints);
    bool readMeasurement(MeasurementRecord &measurement);
    void refreshOperation();
    void refreshQuestionable();
    void forgetReads();

    SupplySession &session;
    QByteArray identity;
    ScpiErrorQueue errors;
    QList<Entry> table;
    // Standard event status register: power-on until first read or cleared.
    int events = ScpiError::PowerOnBit;
    int eventEnable = 0;    // *ESE
    int serviceEnable = 0;  // *SRE
    ScpiStatusRegister operation;
    ScpiStatusRegister questionable;
    MessageState message;
    // Other messages are being carried out between two tries of a step.
    bool inGap = false;
    bool tryingOnce = false;
    std::function<void()> serveOthers;
};
