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

// Builder of a little-endian request payload.
class Payload
{
public:
    void u8(int32_t value) { bytes.append(char(value & 0xFF)); }
    void u16(int32_t value)
    {
        u8(value);
        u8(value >> 8);
    }
    const quint8 *data() const { return reinterpret_cast<const quint8 *>(bytes.constData()); }
    int size() const { return bytes.size(); }

private:
    QByteArray bytes;
};

}  // namespace

LinkResult DeviceLink::ReadRecord(QByteArray &reply, quint8 address, quint8 command,
                                  quint8 minLength, quint8 fullLength, quint8 access)
{
    quint8 count = 0;
    const LinkResult result =
        ReadTransaction(reply, count, address, command, minLength, TimeoutMs, access);
    if (result != GoodReply)
        return result;
    // The transaction accepts replies from the minimum length on, but a record
    // is only filled from a reply that carries its whole layout.
    if (reply.size() < fullLength) {
        trace << "Error linesize";
        TraceLineEnd();
        trace << reply.size() << ' ' << fullLength;
        trace.flush();
        return BadReply;
    }
    return GoodReply;
}

LinkResult DeviceLink::GetStatus(quint8 address, StatusRecord &record)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, Status, StatusReply.min,
                                         StatusReply.full, AccessRead);
    if (result == GoodReply) {
        const ReplyData d(reply);
        record.Voltage = d.u16(0);
        record.Current = d.s16(2);
        record.CcFlag = d.u8(5);
        record.CvFlag = d.u8(6);
        record.CurrentFine = d.u8(4);
        record.OutputOn = d.u8(7);
    }
    return result;
}

LinkResult DeviceLink::GetMeasurements(quint8 address, MeasurementRecord &record)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, Measurements, MeasurementsReply.min,
                                         MeasurementsReply.full, AccessRead);
    if (result == GoodReply) {
        const ReplyData d(reply);
        record.Vsdadc = d.u16(0);
        record.Csdadc = d.u16(2);
        record.Temp = d.u16(4);
        record.Vin = d.u16(6);
        record.Vpwm = d.u16(10);
        record.Vref = d.u16(8);
    }
    return result;
}

LinkResult DeviceLink::GetSetpoints(quint8 address, SetpointRecord &record)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, Setpoints, SetpointsReply.min,
                                         SetpointsReply.full, AccessRead);
    if (result == GoodReply) {
        const ReplyData d(reply);
        record.VoltageSet = d.u16(0);
        record.CurrentSet = d.s16(2);
    }
    return result;
}

LinkResult DeviceLink::SetSetpoints(quint8 address, int millivolts, int milliamperes)
{
    Payload p;
    p.u16(millivolts);
    p.u16(milliamperes);
    return WriteTransaction(address, Setpoints, p.data(), p.size(), TimeoutMs, AccessWrite);
}

LinkResult DeviceLink::SetOutput(quint8 address, int value)
{
    Payload p;
    p.u16(value);
    return WriteTransaction(address, Output, p.data(), p.size(), TimeoutMs, AccessWrite);
}

LinkResult DeviceLink::GetCalibration(quint8 address, CalibrationRecord &record, quint8 access)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, Calibration, CalibrationReply.min,
                                         CalibrationReply.full, access);
    if (result == GoodReply) {
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
    }
    return result;
}

LinkResult DeviceLink::SetCalibration(quint8 address, const CalibrationRecord &values,
                                      quint8 access)
{
    Payload p;
    p.u16(values.KuDacVolt);
    p.u16(values.OffDacVolt);
    p.u16(values.KuDacCurr);
    p.u16(values.OffDacCurr);
    p.u16(values.KuAdcVolt);
    p.u16(values.OffAdcVolt);
    p.u16(values.KuAdcCurr);
    p.u16(values.OffAdcCurr);
    p.u16(values.KuAdcCurrFine);
    p.u16(values.OffAdcCurrFine);
    p.u16(values.Rout);
    return WriteTransaction(address, Calibration, p.data(), p.size(), TimeoutMs, access);
}

LinkResult DeviceLink::GetUserParams(quint8 address, UserParamRecord &record, quint8 access)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, UserParams, UserParamsReply.min,
                                         UserParamsReply.full, access);
    if (result == GoodReply) {
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
    }
    return result;
}

LinkResult DeviceLink::SetUserParams(quint8 address, const UserParamRecord &values, quint8 access)
{
    Payload p;
    p.u8(values.NVPstatus);
    p.u16(0);  // the life counter is the supply's own; it is never written
    p.u8(values.CurrTrigStat);
    p.u8(values.CurrTrigTime);
    p.u8(values.VoltmetrStatus);
    p.u8(values.VoltmetrTime);
    p.u8(values.AdjStatus);
    p.u8(values.CurrAdgStatus);
    p.u8(values.CurrentTrigger);
    return WriteTransaction(address, UserParams, p.data(), p.size(), TimeoutMs, access);
}

LinkResult DeviceLink::GetUserParamsShort(quint8 address, UserParamShortRecord &record,
                                          quint8 access)
{
    QByteArray reply;
    const LinkResult result = ReadRecord(reply, address, UserParams, UserParamsShortReply.min,
                                         UserParamsShortReply.full, access);
    if (result == GoodReply) {
        const ReplyData d(reply);
        record.Word0 = d.u16(0);
        record.Byte2 = d.u8(2);
        record.Word3 = d.u16(3);
    }
    return result;
}
