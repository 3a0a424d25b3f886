#include "commandhandler.h"

#include "commandset.h"
#include "recordwire.h"
#include "supplymodel.h"

namespace CommandHandler {

namespace {

std::optional<Answer> readAnswer(SupplyModel &model, quint8 command)
{
    Answer a;
    a.command = command;
    a.access = CommandSet::AccessRead;
    a.isRead = true;
    switch (command) {
    case CommandSet::Status:
        a.data = RecordWire::pack(model.status());
        return a;
    case CommandSet::Measurements:
        a.data = RecordWire::pack(model.measurements());
        return a;
    case CommandSet::Setpoints:
        a.data = RecordWire::pack(model.setpoints());
        return a;
    case CommandSet::Calibration:
        a.data = RecordWire::pack(model.calibration());
        return a;
    case CommandSet::UserParams:
        a.data = RecordWire::pack(model.userParams());
        return a;
    default:
        return std::nullopt;
    }
}

// True when the payload had the command's length and the model took it.
bool applyWrite(SupplyModel &model, quint8 command, const QByteArray &payload)
{
    switch (command) {
    case CommandSet::Setpoints:
        if (payload.size() != RecordWire::SetpointBytes)
            return false;
        {
            const SetpointRecord values = RecordWire::unpackSetpoints(payload);
            model.setSetpoints(values.VoltageSet, values.CurrentSet);
        }
        return true;
    case CommandSet::Output:
        if (payload.size() != RecordWire::OutputBytes)
            return false;
        switch (RecordWire::unpackU16(payload, 0)) {
        case OutputOnValue:
            model.setOutputOn(true);
            break;
        case OutputOffValue:
            model.setOutputOn(false);
            break;
        default:
            break;  // not a switch command: acknowledged, nothing changes
        }
        return true;
    case CommandSet::Calibration:
        if (payload.size() != RecordWire::CalibrationBytes)
            return false;
        model.setCalibration(RecordWire::unpackCalibration(payload));
        return true;
    case CommandSet::UserParams:
        if (payload.size() != RecordWire::UserParamBytes)
            return false;
        model.setUserParams(RecordWire::unpackUserParams(payload));
        return true;
    default:
        return false;
    }
}

}  // namespace

std::optional<Answer> answer(SupplyModel &model, const QByteArray &request)
{
    const int overhead = CommandSet::HeaderBytes + CommandSet::CrcBytes;
    if (request.size() < overhead)
        return std::nullopt;
    const quint8 command = quint8(request.at(2));
    const quint8 access = quint8(request.at(3));
    const QByteArray payload = request.mid(CommandSet::HeaderBytes, request.size() - overhead);

    if (access == CommandSet::AccessRead) {
        if (!payload.isEmpty())
            return std::nullopt;
        return readAnswer(model, command);
    }
    if (access == CommandSet::AccessWrite && applyWrite(model, command, payload)) {
        Answer a;
        a.command = command;
        a.access = CommandSet::AccessAccepted;
        return a;
    }
    return std::nullopt;
}

}  // namespace CommandHandler
