#pragma once

#include "records.h"

// The one place where the supply's raw record fields become volts, amperes and
// degrees, and where set-points in volts and amperes become the supply's
// millivolts and milliamperes. The window, the log and velkaroctl all use it.

// Output voltage of a status: Voltage counts 10 mV.
double OutputVolts(const StatusRecord &status);
// Output current of a status: Current counts 1 mA, or 0.1 mA while the supply
// reports its fine range (CurrentFine non-zero).
double OutputAmperes(const StatusRecord &status);
// The decimals of amperes that OutputAmperes resolves: 4 in the fine range,
// otherwise 3.
int OutputAmperesDecimals(const StatusRecord &status);
// The output current rounded to whole milliamperes, as the display shows it.
int OutputMilliamperes(const StatusRecord &status);
// The regulation mode a status reports: "CC", "CV", or "-" for neither.
const char *ModeName(const StatusRecord &status);

// The internal measurements: voltages in mV, current in mA, temperature in
// 0.1 degC.
double MeasuredVolts(const MeasurementRecord &measurement);
double MeasuredAmperes(const MeasurementRecord &measurement);
double MeasuredCelsius(const MeasurementRecord &measurement);
double InputVolts(const MeasurementRecord &measurement);
double PwmVolts(const MeasurementRecord &measurement);
double ReferenceVolts(const MeasurementRecord &measurement);

// Set-points as read back: millivolts and milliamperes.
double SetpointVolts(const SetpointRecord &setpoints);
double SetpointAmperes(const SetpointRecord &setpoints);

// A set-point in volts or amperes as the supply takes it, in thousandths. The
// small bias keeps a value such as 1.005 from truncating to 1004.
int ToThousandths(double value);

// What an operator may set, in the window and from scripts.
constexpr double MinSetpointVolts = 0.01;
constexpr double MaxSetpointVolts = 30.0;
constexpr double MinSetpointAmperes = 0.005;
constexpr double MaxSetpointAmperes = 9.999;
