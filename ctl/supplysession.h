#pragma once

#include "devicelink.h"
#include "records.h"

#include <optional>

class QSerialPort;

// What became of one step with the supply.
enum class SupplyOutcome {
    Done,          // answered; for a write: acknowledged and read back as written
    NoReply,       // the supply did not answer
    Refused,       // a reply came but was rejected, or a write was not acknowledged
    NotConfirmed,  // a write was acknowledged, but reading back showed other values
};

// The supply as velkaroctl's commands and its SCPI server see it: one blocking
// step per call on a port that is already open and set up, values as the
// records hold them, every set-point and output write tried up to WriteTries
// times and then confirmed by reading back, every parameter write confirmed by
// reading the block back. Never opens or closes the port.
class SupplySession
{
public:
    SupplySession(QSerialPort *port, quint8 address);

    // The link's trace goes to stream (nullptr: off, the default).
    void SetTrace(FILE *stream);

    SupplyOutcome ReadStatus(StatusRecord &status);
    SupplyOutcome ReadMeasurements(MeasurementRecord &measurement);
    SupplyOutcome ReadSetpoints(SetpointRecord &setpoints);
    // Volts and amperes; a value not given keeps the supply's present one,
    // which is read first. Range checks are the caller's.
    SupplyOutcome SetSetpoints(std::optional<double> volts, std::optional<double> amperes);
    SupplyOutcome SetOutput(bool on);
    SupplyOutcome ReadCalibration(CalibrationRecord &calibration);
    SupplyOutcome WriteCalibration(const CalibrationRecord &calibration);
    SupplyOutcome ReadUserParams(UserParamRecord &params);
    // LifeCounter is the supply's own: it is not sent and not compared.
    SupplyOutcome WriteUserParams(const UserParamRecord &params);

private:
    DeviceLink link;
    quint8 address;
};
