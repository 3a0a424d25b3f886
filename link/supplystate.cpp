#include "supplystate.h"

#include "commandset.h"
#include "devicelink.h"

SupplyStates::SupplyStates(QObject *parent)
    : QObject(parent)
{
    clock.start();
}

void SupplyStates::NoteReply(quint8 address, quint8 command, const QByteArray &reply)
{
    SupplyState &state = states[address];
    const qint64 now = clock.elapsed();
    bool known = false;
    switch (command) {
    case CommandSet::Status: {
        StatusRecord status;
        if ((known = DeviceLink::FillStatus(reply, status)))
            state.status = {status, now};
        break;
    }
    case CommandSet::Measurements: {
        MeasurementRecord measurement;
        if ((known = DeviceLink::FillMeasurements(reply, measurement)))
            state.measurement = {measurement, now};
        break;
    }
    case CommandSet::Setpoints: {
        SetpointRecord setpoints;
        if ((known = DeviceLink::FillSetpoints(reply, setpoints)))
            state.setpoints = {setpoints, now};
        break;
    }
    default:
        break;
    }
    if (known)
        emit changed(address);
}

void SupplyStates::NoteWritten(quint8 address, quint8 command, const QByteArray &payload)
{
    auto word = [&payload](int at) { return int(quint8(payload.at(at))) | int(quint8(payload.at(at + 1))) << 8; };
    SupplyState &state = states[address];
    const qint64 now = clock.elapsed();
    if (command == CommandSet::Setpoints && payload.size() >= 4) {
        // The current limit is signed on the wire, as its reading is.
        state.setpoints = {SetpointRecord{word(0), qint16(word(2))}, now};
    } else if (command == CommandSet::Output && payload.size() >= 2 && state.status.value
               && (word(0) == CommandSet::OutputOnValue || word(0) == CommandSet::OutputOffValue)) {
        // Only the switch is known anew; the readings stay as old as they are.
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
