#include "supplystate.h"

#include "commandset.h"
#include "devicelink.h"

SupplyStates::SupplyStates(QObject *parent)
    : QObject(parent)
{
    clock.start();
}

namespace {

// Takes what was read at atMs unless a later value is known already.
template <typename Record>
bool Take(KnownValue<Record> &known, const Record &value, qint64 atMs)
{
    if (known.value && known.atMs > atMs)
        return false;
    known = {value, atMs};
    return true;
}

}  // namespace

void SupplyStates::NoteReply(quint8 address, quint8 command, const QByteArray &reply, qint64 ageMs)
{
    SupplyState &state = states[address];
    const qint64 at = clock.elapsed() - qMax<qint64>(ageMs, 0);
    bool known = false;
    switch (command) {
    case CommandSet::Status: {
        StatusRecord status;
        known = DeviceLink::FillStatus(reply, status) && Take(state.status, status, at);
        break;
    }
    case CommandSet::Measurements: {
        MeasurementRecord measurement;
        known = DeviceLink::FillMeasurements(reply, measurement) && Take(state.measurement, measurement, at);
        break;
    }
    case CommandSet::Setpoints: {
        SetpointRecord setpoints;
        known = DeviceLink::FillSetpoints(reply, setpoints) && Take(state.setpoints, setpoints, at);
        break;
    }
    default:
        break;
    }
    if (known)
        emit changed(address);
}

void SupplyStates::NoteWritten(quint8 address, quint8 command, const QByteArray &payload, qint64 ageMs)
{
    auto word = [&payload](int at) { return int(quint8(payload.at(at))) | int(quint8(payload.at(at + 1))) << 8; };
    SupplyState &state = states[address];
    const qint64 at = clock.elapsed() - qMax<qint64>(ageMs, 0);
    if (command == CommandSet::Setpoints && payload.size() >= 4) {
        // The current limit is signed on the wire, as its reading is.
        if (!Take(state.setpoints, SetpointRecord{word(0), qint16(word(2))}, at))
            return;
    } else if (command == CommandSet::Output && payload.size() >= 2 && state.status.value
               && state.status.atMs <= at
               && (word(0) == CommandSet::OutputOnValue || word(0) == CommandSet::OutputOffValue)) {
        // Only the switch is known anew (a status read after the write knows
        // it already); the readings stay as old as they are.
        state.status.value->OutputOn = word(0) == CommandSet::OutputOnValue ? 1 : 0;
    } else {
        return;
    }
    emit changed(address);
}

void SupplyStates::Clear()
{
    states.clear();
}
