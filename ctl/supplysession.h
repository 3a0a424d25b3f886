#pragma once

#include "devicelink.h"
#include "records.h"
#include "writeattempts.h"

#include <functional>
#include <memory>
#include <optional>

class QSerialPort;

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

// The supply as velkaroctl's commands and its SCPI server see it: one blocking
// step per call on a port that is already open and set up, values as the
// records hold them, every write tried up to WriteTries times until it is
// acknowledged and then confirmed by reading back (set-points, the output
// switch, the whole parameter block). Never opens or closes the port.
class SupplySession
{
public:
    SupplySession(QSerialPort *port, quint8 address);
    // A session for another address on the same line, through that line's
    // one link, so that a request that went unanswered for one address is
    // drained before the next request for any other. The link must outlive
    // the session.
    SupplySession(DeviceLink &sharedLink, quint8 address);
    // Drains a late reply still on its way, for the port's next user.
    ~SupplySession();

    // One line per frame sent and received goes to stream (nullptr: off,
    // the default).
    void SetFrameTrace(FILE *stream);
    // How often each read (also the read of present values and the reading
    // back after a write) is tried until answered: WriteTries unless set. A
    // caller that samples at a steady rate tries once and reports the miss.
    void SetReadTries(int tries) { readTries = tries; }
    // How often each write is tried until acknowledged: WriteTries unless set.
    void SetWriteTries(int tries) { writeTries = tries; }
    // Called after every try that failed, with its result; returning false
    // ends the step's tries there. The SCPI server serves its other clients
    // there and counts the supply's silence.
    void SetAfterFailedTry(std::function<bool(LinkResult)> hook) { afterFailedTry = std::move(hook); }
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
    LinkResult ReadWithTries(Read read);
    // The transaction, reporting each failed try to afterFailedTry and
    // making no more once it says so.
    template <typename Transaction>
    auto Reported(Transaction transaction);
    template <typename Record, typename Read, typename Write, typename Same>
    SupplyOutcome WriteConfirmed(Write write, Read read, Record &readBack, Same same);

    std::unique_ptr<DeviceLink> ownLink;  // null on a shared link
    DeviceLink &link;
    quint8 address;
    int readTries = WriteTries;
    int writeTries = WriteTries;
    std::function<bool(LinkResult)> afterFailedTry;
    SupplyStep lastStep = SupplyStep::Read;
    SetpointRecord readBackSetpoints;
    StatusRecord readBackStatus;
};
