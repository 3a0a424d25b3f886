#include "replyledger.h"

#include "commandset.h"
#include "devicelink.h"
#include "logline.h"
#include "logreading.h"
#include "virtualsupply.h"
#include "windowview.h"

namespace {

// Reply data in the supply's layout: 16-bit values little-endian.
class Data
{
public:
    explicit Data(const QByteArray &bytes) : bytes(bytes) {}
    int u8(int offset) const { return quint8(bytes.at(offset)); }
    int u16(int offset) const { return u8(offset) | (u8(offset + 1) << 8); }
    int s16(int offset) const { return qint16(quint16(u16(offset))); }
    int size() const { return bytes.size(); }

private:
    QByteArray bytes;
};

QString logValue(const LogReading &reading)
{
    return ValueLine(reading, false).trimmed();
}

}  // namespace

ReplyLedger::ReplyLedger(VirtualSupply *supply, const WindowView *view, QObject *parent)
    : QObject(parent), view(view)
{
    connect(supply, &VirtualSupply::replyWritten, this, &ReplyLedger::take);
}

void ReplyLedger::take(const QByteArray &text)
{
    // Noise never holds the start character, so the frame starts at the first one.
    const int start = text.indexOf(DeviceLink::StartChar);
    if (start < 0)
        return;
    QByteArray bytes;
    const int n = DeviceLink::DecodeLine(text.mid(start), bytes);
    if (bytes.size() < CommandSet::HeaderBytes)
        return;
    const quint8 command = quint8(bytes.at(2));
    // An acknowledgement is judged by its access byte alone, checksum or not.
    if (quint8(bytes.at(3)) == CommandSet::AccessAccepted) {
        ++ackCount[command];
        return;
    }

    if (n < CommandSet::HeaderBytes + CommandSet::CrcBytes)
        return;
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::CrcStep(crc, quint8(byte));
    if (crc != 0 || quint8(bytes.at(0)) != CommandSet::MasterAddress)
        return;
    const QByteArray payload = bytes.mid(CommandSet::HeaderBytes, n - CommandSet::HeaderBytes
                                                                     - CommandSet::CrcBytes);
    ++readCount[command];
    if (!VirtualSupply::isTraceableData(command, payload))
        ++untraceable;
    const Data d(payload);

    switch (command) {
    case CommandSet::Status:
        if (d.size() >= 8) {
            StatusRecord r;
            r.Voltage = d.u16(0);
            r.Current = d.s16(2);
            r.CurrentFine = d.u8(4);
            r.CcFlag = d.u8(5);
            r.CvFlag = d.u8(6);
            r.OutputOn = d.u8(7);
            status.insert(view->status(r));
            displayLogValues.insert(logValue(DisplayReading(r)));
        }
        break;
    case CommandSet::Measurements:
        if (d.size() >= 12) {
            MeasurementRecord r;
            r.Vsdadc = d.u16(0);
            r.Csdadc = d.u16(2);
            r.Temp = d.u16(4);
            r.Vin = d.u16(6);
            r.Vref = d.u16(8);
            r.Vpwm = d.u16(10);
            measurements.insert(view->measurements(r));
            adcLogValues.insert(logValue(AdcReading(r)));
        }
        break;
    case CommandSet::Setpoints:
        if (d.size() >= 4) {
            SetpointRecord r;
            r.VoltageSet = d.u16(0);
            r.CurrentSet = d.s16(2);
            setpoints.insert(view->setpoints(r));
        }
        break;
    case CommandSet::Calibration:
        if (d.size() >= 22) {
            CalibrationRecord r;
            r.KuDacVolt = d.u16(0);
            r.OffDacVolt = d.s16(2);
            r.KuDacCurr = d.u16(4);
            r.OffDacCurr = d.s16(6);
            r.KuAdcVolt = d.u16(8);
            r.OffAdcVolt = d.s16(10);
            r.KuAdcCurr = d.u16(12);
            r.OffAdcCurr = d.s16(14);
            r.KuAdcCurrFine = d.u16(16);
            r.OffAdcCurrFine = d.s16(18);
            r.Rout = d.u16(20);
            calibration.insert(view->calibration(r));
        }
        break;
    case CommandSet::UserParams:
        if (d.size() >= 10) {
            UserParamRecord r;
            r.NVPstatus = d.u8(0);
            r.LifeCounter = d.u16(1);
            r.CurrTrigStat = d.u8(3);
            r.CurrTrigTime = d.u8(4);
            r.VoltmetrStatus = d.u8(5);
            r.VoltmetrTime = d.u8(6);
            r.AdjStatus = d.u8(7);
            r.CurrAdgStatus = d.u8(8);
            r.CurrentTrigger = d.u8(9);
            userParams.insert(view->userParams(r));
        }
        break;
    default:
        break;
    }
}
