#include "supplymodel.h"

#include <algorithm>
#include <cmath>

namespace {

// Unregulated input: no-load voltage and the source's resistance.
constexpr double InputNoLoadMv = 36000.0;
constexpr double InputSourceOhms = 0.2;
constexpr double ReferenceMv = 2500.0;
// The switching pre-regulator runs this far above the output, plus a drop
// that grows with the current, to leave the linear stage room to regulate.
constexpr double PwmHeadroomMv = 1200.0;
constexpr double PwmDropOhms = 0.3;
constexpr double IdleWatts = 0.8;
constexpr double SwitchingLoss = 0.08;

int toU16(double value)
{
    return int(std::clamp(std::lround(value), 0L, 65535L));
}

double gain(int32_t ku)
{
    return ku / 1000.0;
}

}  // namespace

SupplyModel::SupplyModel(quint32 seed)
    : rng(seed)
{
    calib.KuDacVolt = calib.KuAdcVolt = calib.KuDacCurr = calib.KuAdcCurr = calib.KuAdcCurrFine = 1000;
    user.NVPstatus = 1;
    user.CurrTrigTime = 20;
    user.AdjStatus = 1;
    user.CurrAdgStatus = 3;
    user.VoltmetrTime = 100;
}

void SupplyModel::setSetpoints(int millivolts, int milliamperes)
{
    setVoltageMv = millivolts;
    setCurrentMa = milliamperes;
}

void SupplyModel::advance(qint64 milliseconds)
{
    if (milliseconds <= 0)
        return;
    uptime += milliseconds;
    const double target = AmbientCelsius + ThermalKelvinPerWatt * dissipatedWatts();
    const double alpha = 1.0 - std::exp(-(milliseconds / 1000.0) / ThermalTimeConstantS);
    temperature += (target - temperature) * alpha;
}

SupplyModel::OperatingPoint SupplyModel::operatingPoint() const
{
    OperatingPoint point;
    if (!output)
        return point;
    const double volts = std::max(0.0, setVoltageMv * gain(calib.KuDacVolt) + calib.OffDacVolt);
    const double limit = std::max(0.0, setCurrentMa * gain(calib.KuDacCurr) + calib.OffDacCurr);
    if (load <= 0) {
        point.millivolts = volts;
        return point;
    }
    const double drawn = volts / load;
    if (drawn < limit) {
        point.millivolts = volts;
        point.milliamperes = drawn;
    } else {
        point.milliamperes = limit;
        point.millivolts = limit * load;
        point.constantCurrent = true;
    }
    return point;
}

double SupplyModel::inputMv(double milliamperes) const
{
    return InputNoLoadMv - milliamperes * InputSourceOhms;
}

double SupplyModel::pwmMv(const OperatingPoint &point) const
{
    const double wanted = point.millivolts + PwmHeadroomMv + point.milliamperes * PwmDropOhms;
    return std::min(wanted, inputMv(point.milliamperes));
}

double SupplyModel::dissipatedWatts() const
{
    const OperatingPoint point = operatingPoint();
    const double amperes = point.milliamperes / 1000.0;
    const double linearLoss = (pwmMv(point) - point.millivolts) / 1000.0 * amperes;
    const double switchingLoss = SwitchingLoss * pwmMv(point) / 1000.0 * amperes;
    return IdleWatts + linearLoss + switchingLoss;
}

StatusRecord SupplyModel::status() const
{
    const OperatingPoint point = operatingPoint();
    StatusRecord record;
    record.Voltage = toU16(point.millivolts / 10.0);
    const bool fine = point.milliamperes < FineCurrentBelowMa;
    record.CurrentFine = fine ? 1 : 0;
    record.Current = int32_t(std::lround(fine ? point.milliamperes * 10.0 : point.milliamperes));
    record.CcFlag = output && point.constantCurrent ? 1 : 0;
    record.CvFlag = output && !point.constantCurrent ? 1 : 0;
    record.OutputOn = output ? 1 : 0;
    return record;
}

MeasurementRecord SupplyModel::measurements()
{
    const OperatingPoint point = operatingPoint();
    const bool fine = point.milliamperes < FineCurrentBelowMa;
    const double currentGain = gain(fine ? calib.KuAdcCurrFine : calib.KuAdcCurr);
    const int currentOffset = fine ? calib.OffAdcCurrFine : calib.OffAdcCurr;
    MeasurementRecord record;
    record.Vsdadc = toU16(point.millivolts * gain(calib.KuAdcVolt) + calib.OffAdcVolt + jitter(2));
    record.Csdadc = toU16(point.milliamperes * currentGain + currentOffset + jitter(1));
    record.Temp = toU16(temperature * 10.0 + jitter(1));
    record.Vin = toU16(inputMv(point.milliamperes) + jitter(5));
    record.Vref = toU16(ReferenceMv + jitter(1));
    record.Vpwm = toU16((output ? pwmMv(point) : 0.0) + jitter(3));
    return record;
}

SetpointRecord SupplyModel::setpoints() const
{
    SetpointRecord record;
    record.VoltageSet = setVoltageMv;
    record.CurrentSet = setCurrentMa;
    return record;
}

UserParamRecord SupplyModel::userParams() const
{
    UserParamRecord record = user;
    record.LifeCounter = int32_t((uptime / 1000) & 0xFFFF);
    return record;
}

void SupplyModel::setUserParams(const UserParamRecord &values)
{
    user = values;
    user.LifeCounter = 0;
}

int SupplyModel::jitter(int amplitude)
{
    if (!noise)
        return 0;
    return int(rng() % quint32(2 * amplitude + 1)) - amplitude;
}
