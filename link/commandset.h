#pragma once

#include <QtGlobal>

// Command codes, access codes and reply lengths of the supply's command set.
// Lengths count decoded bytes, header and CRC included: a read is accepted from
// its minimum length, while its record layout fills the full length.
namespace CommandSet {

constexpr quint8 MasterAddress = 0x80;

constexpr quint8 AccessRead = 0x01;
constexpr quint8 AccessWrite = 0x11;
constexpr quint8 AccessAccepted = 0x1F;

constexpr quint8 Status = 0x01;
constexpr quint8 Setpoints = 0x03;
constexpr quint8 Output = 0x07;
constexpr quint8 Measurements = 0x10;
constexpr quint8 Calibration = 0xA8;
constexpr quint8 UserParams = 0xAB;

constexpr int HeaderBytes = 4;  // destination, source, command, access
constexpr int CrcBytes = 2;

struct ReplyLength {
    quint8 min;
    quint8 full;
};
constexpr ReplyLength StatusReply{11, 14};
constexpr ReplyLength MeasurementsReply{15, 18};
constexpr ReplyLength SetpointsReply{5, 10};
constexpr ReplyLength CalibrationReply{25, 28};
constexpr ReplyLength UserParamsReply{13, 16};
constexpr ReplyLength UserParamsShortReply{8, 11};

// The longest frame of the command set, either way: the calibration reply and
// the calibration write are both 28 bytes.
constexpr int MaxFrameBytes = 28;
// '#', two hex digits a byte, carriage return.
constexpr int MaxLineChars = 2 + 2 * MaxFrameBytes;

constexpr quint16 OutputOnValue = 7066;
constexpr quint16 OutputOffValue = 0;

}  // namespace CommandSet
