#include "recordwire.h"

namespace RecordWire {

namespace {

void put8(QByteArray &out, int32_t value)
{
    out.append(char(value & 0xFF));
}

void put16(QByteArray &out, int32_t value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

int u8(const QByteArray &in, int offset)
{
    return quint8(in.at(offset));
}

int s16(const QByteArray &in, int offset)
{
    return qint16(quint16(unpackU16(in, offset)));
}

}  // namespace

int unpackU16(const QByteArray &payload, int offset)
{
    return u8(payload, offset) | (u8(payload, offset + 1) << 8);
}

QByteArray pack(const StatusRecord &record)
{
    QByteArray out;
    put16(out, record.Voltage);
    put16(out, record.Current);
    put8(out, record.CurrentFine);
    put8(out, record.CcFlag);
    put8(out, record.CvFlag);
    put8(out, record.OutputOn);
    return out;
}

QByteArray pack(const MeasurementRecord &record)
{
    QByteArray out;
    put16(out, record.Vsdadc);
    put16(out, record.Csdadc);
    put16(out, record.Temp);
    put16(out, record.Vin);
    put16(out, record.Vref);
    put16(out, record.Vpwm);
    return out;
}

QByteArray pack(const SetpointRecord &record)
{
    QByteArray out;
    put16(out, record.VoltageSet);
    put16(out, record.CurrentSet);
    return out;
}

QByteArray pack(const CalibrationRecord &record)
{
    QByteArray out;
    for (int32_t value : {record.KuDacVolt, record.OffDacVolt, record.KuDacCurr, record.OffDacCurr,
                          record.KuAdcVolt, record.OffAdcVolt, record.KuAdcCurr, record.OffAdcCurr,
                          record.KuAdcCurrFine, record.OffAdcCurrFine, record.Rout})
        put16(out, value);
    return out;
}

QByteArray pack(const UserParamRecord &record)
{
    QByteArray out;
    put8(out, record.NVPstatus);
    put16(out, record.LifeCounter);
    for (int32_t value : {record.CurrTrigStat, record.CurrTrigTime, record.VoltmetrStatus,
                          record.VoltmetrTime, record.AdjStatus, record.CurrAdgStatus,
                          record.CurrentTrigger})
        put8(out, value);
    return out;
}

SetpointRecord unpackSetpoints(const QByteArray &payload)
{
    SetpointRecord record;
    record.VoltageSet = unpackU16(payload, 0);
    record.CurrentSet = s16(payload, 2);
    return record;
}

CalibrationRecord unpackCalibration(const QByteArray &payload)
{
    CalibrationRecord record;
    record.KuDacVolt = unpackU16(payload, 0);
    record.OffDacVolt = s16(payload, 2);
    record.KuDacCurr = unpackU16(payload, 4);
    record.OffDacCurr = s16(payload, 6);
    record.KuAdcVolt = unpackU16(payload, 8);
    record.OffAdcVolt = s16(payload, 10);
    record.KuAdcCurr = unpackU16(payload, 12);
    record.OffAdcCurr = s16(payload, 14);
    record.KuAdcCurrFine = unpackU16(payload, 16);
    record.OffAdcCurrFine = s16(payload, 18);
    record.Rout = unpackU16(payload, 20);
    return record;
}

UserParamRecord unpackUserParams(const QByteArray &payload)
{
    UserParamRecord record;
    record.NVPstatus = u8(payload, 0);
    record.LifeCounter = unpackU16(payload, 1);
    record.CurrTrigStat = u8(payload, 3);
    record.CurrTrigTime = u8(payload, 4);
    record.VoltmetrStatus = u8(payload, 5);
    record.VoltmetrTime = u8(payload, 6);
    record.AdjStatus = u8(payload, 7);
    record.CurrAdgStatus = u8(payload, 8);
    record.CurrentTrigger = u8(payload, 9);
    return record;
}

}  // namespace RecordWire
