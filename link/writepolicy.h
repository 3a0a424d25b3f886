#pragma once

#include "devicelink.h"
#include "records.h"
#include "writeattempts.h"

#include <functional>
#include <optional>

// What became of one step with the supply.
enum class SupplyOutcome {
    Done,          // answered; for a write: acknowledged and read back as written
    NoReply,       // the supply did not answer
    Refused,       // a reply came but was rejected, or a write was not acknowledged
    NotConfirmed,  // a write was acknowledged, but reading back showed other values
};

// Which step of a call the outcome belongs to, so that a failure can be told
// precisely: a read (also the read of the present set-points that a partial
// set needs), the write itself, or the reading back after an acknowledged
// write.
enum class SupplyStep {
    Read,
    Write,
    ReadBack,
};

// The one rule for changing what a supply holds, for every program that
// writes and confirms: a write is tried up to WriteTries times until the link
// takes an acknowledgement for it (its judgement: CRC, source address,
// command); the value is then read back, that reading tried up to WriteTries
// times like any read, and the write is done only when the reading shows what
// was written. One blocking step per call on the link's open line; the link
// must outlive the policy.
class WritePolicy
{
public:
    WritePolicy(DeviceLink &link, quint8 address);

    // How often a plain read is tried until answered: WriteTries unless set.
    // A caller that samples at a steady rate tries once and reports the miss.
    // A read-back is always tried WriteTries times: a lost reply must not
    // turn a write that landed into a failed one.
    void SetReadTries(int tries) { readTries = tries; }
    // How often each write is tried until acknowledged: WriteTries unless set.
    void SetWriteTries(int tries) { writeTries = tries; }
    // Called after every try that failed, with its result; returning false
    // ends the step's tries there. The SCPI server serves its other clients
    // there.
    void SetAfterFailedTry(std::function<bool(LinkResult)> hook) { afterFailedTry = std::move(hook); }
    // For a caller whose time per command is bounded against a silent supply
    // (the SCPI server): the tries of every step, whichever command makes
    // them, count the supply's silence together. A step is tried until
    // WriteTries tries in a row got no reply, those of earlier steps
    // included, and at least once; any reply starts the count again. The
    // set tries still bound a step while the supply answers.
    void SetSilenceBounded(bool bounded) { silenceBounded = bounded; silentTries = 0; }
    int SilentTries() const { return silentTries; }
    // Each step tried once, as while another caller's step waits between
    // two of its tries (a read-back still gets the tries the silence leaves).
    void SetTryOnce(bool once) { tryOnce = once; }
    bool TryingOnce() const { return tryOnce; }
    // The supply the next calls talk to, for a line with several.
    void SetAddress(quint8 address) { this->address = address; }
    quint8 Address() const { return address; }
    // The link itself, for a caller that schedules its own exchanges.
    DeviceLink &Link() { return link; }

    SupplyOutcome ReadStatus(StatusRecord &status);
    SupplyOutcome ReadMeasurements(MeasurementRecord &measurement);
    SupplyOutcome ReadSetpoints(SetpointRecord &setpoints);
    // Volts and amperes; a value not given keeps the supply's present one,
    // which is read first. Range checks are the caller's.
    SupplyOutcome SetSetpoints(std::optional<double> volts, std::optional<double> amperes);
    // The same in the records' units (mV, mA).
    SupplyOutcome SetSetpoints(const SetpointRecord &setpoints);
    SupplyOutcome SetOutput(bool on);
    // The two halves of those, for writing several supplies back to back
    // before confirming each: the write (after reading the present values a
    // partial set needs; wanted receives what was written), then the reading
    // back.
    SupplyOutcome WriteSetpoints(std::optional<double> volts, std::optional<double> amperes,
                                 SetpointRecord &wanted);
    SupplyOutcome ConfirmSetpoints(const SetpointRecord &wanted);
    SupplyOutcome WriteOutput(bool on);
    SupplyOutcome ConfirmOutput(bool on);
    SupplyOutcome ReadCalibration(CalibrationRecord &calibration);
    SupplyOutcome WriteCalibration(const CalibrationRecord &calibration);
    SupplyOutcome ReadUserParams(UserParamRecord &params);
    // LifeCounter is the supply's own: it is not sent and not compared.
    SupplyOutcome WriteUserParams(const UserParamRecord &params);

    // Of the last call: the step its outcome came from.
    SupplyStep LastStep() const { return lastStep; }
    // What the last confirming read returned (set-points after SetSetpoints,
    // the status after SetOutput), to tell what the supply holds instead.
    const SetpointRecord &ReadBackSetpoints() const { return readBackSetpoints; }
    const StatusRecord &ReadBackStatus() const { return readBackStatus; }

private:
    template <typename Read>
    LinkResult ReadWithTries(int tries, Read read);
    // The transaction, reporting each failed try to afterFailedTry and
    // making no more once it says so.
    template <typename Transaction>
    auto Reported(Transaction transaction);
    SupplyOutcome WriteWithTries(std::function<LinkResult()> write);
    // How often a step set to tries is tried now.
    int StepTries(int tries) const;
    template <typename Record, typename Read, typename Same>
    SupplyOutcome ReadBack(Read read, Record &readBack, Same same);

    DeviceLink &link;
    quint8 address;
    int readTries = WriteTries;
    int writeTries = WriteTries;
    std::function<bool(LinkResult)> afterFailedTry;
    bool silenceBounded = false;
    bool tryOnce = false;
    int silentTries = 0;
    SupplyStep lastStep = SupplyStep::Read;
    SetpointRecord readBackSetpoints;
    StatusRecord readBackStatus;
};
