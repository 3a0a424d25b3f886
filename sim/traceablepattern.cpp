#include "traceablepattern.h"

#include "commandset.h"
#include "recordwire.h"

namespace TraceablePattern {

namespace {

quint8 patternByte(quint8 command, quint8 low, quint8 high, int k)
{
    return quint8(low + high + 37 * k + command);
}

}  // namespace

QByteArray data(quint8 command, int length, quint16 serial)
{
    QByteArray out;
    const quint8 low = quint8(serial & 0xFF);
    const quint8 high = quint8(serial >> 8);
    for (int k = 0; k < length; ++k) {
        if (k == 0)
            out.append(char(low));
        else if (k == 1)
            out.append(char(high));
        else
            out.append(char(patternByte(command, low, high, k)));
    }
    return out;
}

bool matches(quint8 command, const QByteArray &data)
{
    if (data.size() < 3)
        return false;
    const quint8 low = quint8(data.at(0));
    const quint8 high = quint8(data.at(1));
    for (int k = 2; k < data.size(); ++k) {
        if (quint8(data.at(k)) != patternByte(command, low, high, k))
            return false;
    }
    return true;
}

int serialOf(quint8 command, const QByteArray &data)
{
    if (!matches(command, data))
        return -1;
    return quint8(data.at(0)) | (quint8(data.at(1)) << 8);
}

bool matches(const StatusRecord &record)
{
    return matches(CommandSet::Status, RecordWire::pack(record));
}

bool matches(const MeasurementRecord &record)
{
    return matches(CommandSet::Measurements, RecordWire::pack(record));
}

bool matches(const SetpointRecord &record)
{
    return matches(CommandSet::Setpoints, RecordWire::pack(record));
}

bool matches(const CalibrationRecord &record)
{
    return matches(CommandSet::Calibration, RecordWire::pack(record));
}

bool matches(const UserParamRecord &record)
{
    return matches(CommandSet::UserParams, RecordWire::pack(record));
}

}  // namespace TraceablePattern
