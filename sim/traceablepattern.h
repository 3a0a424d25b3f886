#pragma once

#include "records.h"

#include <QByteArray>
#include <QtGlobal>

// Reply data that tells where it came from. A supply in traceable mode numbers
// its read replies with a 16-bit serial s (0, 1, 2, ... per supply) and fills
// their data bytes b[0..n-1] with
//
//     b[0] = s & 0xFF,  b[1] = s >> 8,
//     b[k] = (b[0] + b[1] + 37 * k + command) mod 256   for k >= 2.
//
// So the data alone shows which request it answers (a reply to another
// command, a stale reply taken for the next one, or a byte altered on the way
// fails the check) and, through the serial, its order among the replies.
namespace TraceablePattern {

QByteArray data(quint8 command, int length, quint16 serial);

// True when data could have been sent by a traceable supply for command.
// Needs at least 3 bytes, so that one of them is checked.
bool matches(quint8 command, const QByteArray &data);
// The serial carried by data, or -1 when data does not match.
int serialOf(quint8 command, const QByteArray &data);

// The same check on decoded records, through their wire layout.
bool matches(const StatusRecord &record);
bool matches(const MeasurementRecord &record);
bool matches(const SetpointRecord &record);
bool matches(const CalibrationRecord &record);
bool matches(const UserParamRecord &record);

}  // namespace TraceablePattern
