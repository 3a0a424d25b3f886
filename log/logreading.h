#pragma once

#include "records.h"

// One pair of logged values: output voltage in volts, current in amperes.
struct LogReading {
    double volts = 0.0;
    double amperes = 0.0;
};

// The values shown on the displays. The current comes in 1 mA units, or in
// 0.1 mA units when the supply reports its fine current range.
LogReading DisplayReading(const StatusRecord &status);

// The converter readings of the measurement page (mV and mA).
LogReading AdcReading(const MeasurementRecord &measurement);
