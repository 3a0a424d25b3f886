#include "units.h"

#include <QtGlobal>

double OutputVolts(const StatusRecord &status)
{
    return status.Voltage / 100.0;
}

double OutputAmperes(const StatusRecord &status)
{
    return status.CurrentFine == 0 ? status.Current / 1000.0 : status.Current / 10000.0;
}

const char *ModeName(const StatusRecord &status)
{
    return status.CcFlag != 0 ? "CC" : status.CvFlag != 0 ? "CV" : "-";
}

int OutputAmperesDecimals(const StatusRecord &status)
{
    return status.CurrentFine == 0 ? 3 : 4;
}

int OutputMilliamperes(const StatusRecord &status)
{
    return status.CurrentFine == 0 ? status.Current : qRound(status.Current / 10.0);
}

double MeasuredVolts(const MeasurementRecord &measurement)
{
    return measurement.Vsdadc / 1000.0;
}

double MeasuredAmperes(const MeasurementRecord &measurement)
{
    return measurement.Csdadc / 1000.0;
}

double MeasuredCelsius(const MeasurementRecord &measurement)
{
    return measurement.Temp / 10.0;
}

double InputVolts(const MeasurementRecord &measurement)
{
    return measurement.Vin / 1000.0;
}

double PwmVolts(const MeasurementRecord &measurement)
{
    return measurement.Vpwm / 1000.0;
}

double ReferenceVolts(const MeasurementRecord &measurement)
{
    return measurement.Vref / 1000.0;
}

double SetpointVolts(const SetpointRecord &setpoints)
{
    return setpoints.VoltageSet / 1000.0;
}

double SetpointAmperes(const SetpointRecord &setpoints)
{
    return setpoints.CurrentSet / 1000.0;
}

int ToThousandths(double value)
{
    return int((value + 0.0002) * 1000);
}
