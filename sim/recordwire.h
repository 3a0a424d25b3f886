#pragma once

#include "records.h"

#include <QByteArray>

// The records in the supply's wire layout: the data bytes of a read reply,
// and back from the payload of a write. 16-bit values are little-endian;
// every field is cut to its wire width.
namespace RecordWire {

QByteArray pack(const StatusRecord &record);       // 8 bytes
QByteArray pack(const MeasurementRecord &record);  // 12 bytes
QByteArray pack(const SetpointRecord &record);     // 4 bytes
QByteArray pack(const CalibrationRecord &record);  // 22 bytes
QByteArray pack(const UserParamRecord &record);    // 10 bytes

// Callers check the payload's size first.
SetpointRecord unpackSetpoints(const QByteArray &payload);
CalibrationRecord unpackCalibration(const QByteArray &payload);
UserParamRecord unpackUserParams(const QByteArray &payload);  // LifeCounter from offsets 1-2
int unpackU16(const QByteArray &payload, int offset);

constexpr int StatusBytes = 8;
constexpr int MeasurementBytes = 12;
constexpr int SetpointBytes = 4;
constexpr int OutputBytes = 2;
constexpr int CalibrationBytes = 22;
constexpr int UserParamBytes = 10;

}  // namespace RecordWire
