#include "replyledger.h"

#include "commandset.h"
#include "devicelink.h"
#include "logline.h"
#include "logreading.h"
#include "virtualsupply.h"
#include "windowview.h"

namespace {

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
    // The link's own layouts decode it; their offsets are proven by the
    // command tests, what counts here is which reply a value came from.
    switch (command) {
    case CommandSet::Status: {
        StatusRecord r;
        if (DeviceLink::FillStatus(bytes, r)) {
            status.insert(view->status(r));
            displayLogValues.insert(logValue(DisplayReading(r)));
        }
        break;
    }
    case CommandSet::Measurements: {
        MeasurementRecord r;
        if (DeviceLink::FillMeasurements(bytes, r)) {
            measurements.insert(view->measurements(r));
            adcLogValues.insert(logValue(AdcReading(r)));
        }
        break;
    }
    case CommandSet::Setpoints: {
        SetpointRecord r;
        if (DeviceLink::FillSetpoints(bytes, r))
            setpoints.insert(view->setpoints(r));
        break;
    }
    case CommandSet::Calibration: {
        CalibrationRecord r;
        if (DeviceLink::FillCalibration(bytes, r))
            calibration.insert(view->calibration(r));
        break;
    }
    case CommandSet::UserParams: {
        UserParamRecord r;
        if (DeviceLink::FillUserParams(bytes, r))
            userParams.insert(view->userParams(r));
        break;
    }
    default:
        break;
    }
}
