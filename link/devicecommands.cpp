#include "commandset.h"
#include "devicelink.h"
#include "supplystate.h"

namespace {

using namespace CommandSet;

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

template <typename Record>
LinkResult DeviceLink::ReadRecord(quint8 address, quint8 command, CommandSet::ReplyLength length,
                                  quint8 access, Record &record,
                                  bool (*fill)(const QByteArray &, Record &))
{
    QByteArray reply;
    quint8 count = 0;
    const LinkResult result =
        ReadTransaction(reply, count, address, command, length.min, TimeoutMs, access);
    if (result != LinkResult::GoodReply)
        return result;
    // The transaction accepts replies from the minimum length on, but a record
    // is only filled from a reply that carries its whole layout.
    if (fill(reply, record))
        return LinkResult::GoodReply;
    trace << "Error linesize";
    TraceLineEnd();
    trace << reply.size() << ' ' << length.full;
    FlushTrace();
    return LinkResult::BadReply;
}

LinkResult DeviceLink::GetStatus(quint8 address, StatusRecord &record)
{
    return ReadRecord(address, Status, StatusReply, AccessRead, record, &FillStatus);
}

LinkResult DeviceLink::GetMeasurements(quint8 address, MeasurementRecord &record)
{
    return ReadRecord(address, Measurements, MeasurementsReply, AccessRead, record,
                      &FillMeasurements);
}

LinkResult DeviceLink::GetSetpoints(quint8 address, SetpointRecord &record)
{
    return ReadRecord(address, Setpoints, SetpointsReply, AccessRead, record, &FillSetpoints);
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
    return ReadRecord(address, Calibration, CalibrationReply, access, record, &FillCalibration);
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
    return ReadRecord(address, UserParams, UserParamsReply, access, record, &FillUserParams);
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
    return ReadRecord(address, UserParams, UserParamsShortReply, access, record,
                      &FillUserParamsShort);
}

void DeviceLink::NoteReply(quint8 address, quint8 command, const QByteArray &reply)
{
    if (states && !remote)
        states->NoteReply(address, command, reply);
    if (heardHook)
        heardHook(false, address, command, reply);
}

void DeviceLink::NoteWritten(quint8 address, quint8 command, const QByteArray &payload)
{
    if (states && !remote)
        states->NoteWritten(address, command, payload);
    if (heardHook)
        heardHook(true, address, command, payload);
}
