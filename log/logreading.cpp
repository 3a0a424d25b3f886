#include "logreading.h"

LogReading DisplayReading(const StatusRecord &status)
{
    LogReading reading;
    reading.volts = static_cast<double>(status.Voltage * 10) / 1000.0;
    reading.amperes = status.CurrentFine == 0
        ? static_cast<double>(status.Current * 10) / 10000.0
        : static_cast<double>(status.Current) / 10000.0;
    return reading;
}

LogReading AdcReading(const MeasurementRecord &measurement)
{
    LogReading reading;
    reading.volts = static_cast<double>(measurement.Vsdadc) / 1000.0;
    reading.amperes = static_cast<double>(measurement.Csdadc * 10) / 10000.0;
    return reading;
}
