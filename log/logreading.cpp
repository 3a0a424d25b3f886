#include "logreading.h"

#include "units.h"

LogReading DisplayReading(const StatusRecord &status)
{
    return {OutputVolts(status), OutputAmperes(status)};
}

LogReading AdcReading(const MeasurementRecord &measurement)
{
    return {MeasuredVolts(measurement), MeasuredAmperes(measurement)};
}
