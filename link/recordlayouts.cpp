#include "commandset.h"
#include "devicelink.h"

namespace {

using namespace CommandSet;

// Readers of reply data; offsets count from the first data byte.
class ReplyData
{
public:
    explicit ReplyData(const QByteArray &reply) : bytes(reply) {}
    int32_t u8(int offset) const { return byte(offset); }
    int32_t u16(int offset) const { return byte(offset) | (byte(offset + 1) << 8); }
    int32_t s16(int offset) const { return int16_t(uint16_t(u16(offset))); }

private:
    int32_t byte(int offset) const { return quint8(bytes.at(HeaderBytes + offset)); }
    const QByteArray &bytes;
};

}  // namespace

bool DeviceLink::FillStatus(const QByteArray &reply, StatusRecord &record)
{
    if (reply.size() < StatusReply.full)
        return false;
    const ReplyData d(reply);
    record.Voltage = d.u16(0);
    record.Current = d.s16(2);
    record.CcFlag = d.u8(5);
    record.CvFlag = d.u8(6);
    record.CurrentFine = d.u8(4);
    record.OutputOn = d.u8(7);
    return true;
}

bool DeviceLink::FillMeasurements(const QByteArray &reply, MeasurementRecord &record)
{
    if (reply.size() < MeasurementsReply.full)
        return false;
    const ReplyData d(reply);
    record.Vsdadc = d.u16(0);
    record.Csdadc = d.u16(2);
    record.Temp = d.u16(4);
    record.Vin = d.u16(6);
    record.Vpwm = d.u16(10);
    record.Vref = d.u16(8);
    return true;
}

bool DeviceLink::FillSetpoints(const QByteArray &reply, SetpointRecord &record)
{
    if (reply.size() < SetpointsReply.full)
        return false;
    const ReplyData d(reply);
    record.VoltageSet = d.u16(0);
    record.CurrentSet = d.s16(2);
    return true;
}

bool DeviceLink::FillCalibration(const QByteArray &reply, CalibrationRecord &record)
{
    if (reply.size() < CalibrationReply.full)
        return false;
    const ReplyData d(reply);
    record.KuDacVolt = d.u16(0);
    record.KuAdcVolt = d.u16(8);
    record.KuDacCurr = d.u16(4);
    record.KuAdcCurr = d.u16(12);
    record.KuAdcCurrFine = d.u16(16);
    record.OffDacVolt = d.s16(2);
    record.OffAdcVolt = d.s16(10);
    record.OffDacCurr = d.s16(6);
    record.OffAdcCurr = d.s16(14);
    record.OffAdcCurrFine = d.s16(18);
    record.Rout = d.u16(20);
    return true;
}

bool DeviceLink::FillUserParams(const QByteArray &reply, UserParamRecord &record)
{
    if (reply.size() < UserParamsReply.full)
        return false;
    const ReplyData d(reply);
    record.NVPstatus = d.u8(0);
    record.LifeCounter = d.u16(1);
    record.CurrTrigStat = d.u8(3);
    record.CurrTrigTime = d.u8(4);
    record.VoltmetrStatus = d.u8(5);
    record.VoltmetrTime = d.u8(6);
    record.AdjStatus = d.u8(7);
    record.CurrAdgStatus = d.u8(8);
    record.CurrentTrigger = d.u8(9);
    return true;
}

bool DeviceLink::FillUserParamsShort(const QByteArray &reply, UserParamShortRecord &record)
{
    if (reply.size() < UserParamsShortReply.full)
        return false;
    const ReplyData d(reply);
    record.Word0 = d.u16(0);
    record.Byte2 = d.u8(2);
    record.Word3 = d.u16(3);
    return true;
}
