#include "lineruntransport.h"

#include "sharedline.h"

namespace {

RunTransport::Result ResultOf(SupplyOutcome outcome, SupplyStep step = SupplyStep::Read)
{
    // A reading back that met only damaged or missing replies leaves the
    // write's effect unknown, not refused: the supply never said no, and the
    // write is made again.
    if (step == SupplyStep::ReadBack && outcome == SupplyOutcome::Refused)
        return RunTransport::Result::NoAnswer;
    switch (outcome) {
    case SupplyOutcome::Done:
        return RunTransport::Result::Done;
    case SupplyOutcome::NoReply:
        return RunTransport::Result::NoAnswer;
    case SupplyOutcome::Refused:
    case SupplyOutcome::NotConfirmed:
        break;
    }
    return RunTransport::Result::Refused;
}

}  // namespace

LineRunTransport::LineRunTransport() = default;
LineRunTransport::~LineRunTransport() = default;

void LineRunTransport::Attach(DeviceLink &link, SharedLine &line)
{
    this->line = &line;
    policy = std::make_unique<WritePolicy>(link, address);
    // The driver reads again on its own schedule: one try per reading.
    policy->SetReadTries(1);
}

void LineRunTransport::SetAddress(quint8 address)
{
    this->address = address;
    if (policy)
        policy->SetAddress(address);
}

void LineRunTransport::SetConnection(std::function<bool()> connected, std::function<bool()> reconnect)
{
    this->connected = std::move(connected);
    this->reconnect = std::move(reconnect);
}

void LineRunTransport::SetStatusShown(std::function<void(Result, const StatusRecord &)> shown)
{
    statusShown = std::move(shown);
}

void LineRunTransport::SetOutputShown(std::function<void(bool)> shown)
{
    outputShown = std::move(shown);
}

bool LineRunTransport::isOpen() const
{
    // A line handed over is a gap in the run's readings, however quick.
    return line && Connected() && line->IsOpen() && !line->Interrupted();
}

bool LineRunTransport::handingOver() const
{
    return line && Connected() && (line->HandingOver() || line->Interrupted());
}

bool LineRunTransport::reopen()
{
    if (!line)
        return false;
    // A handover keeps the front end's connection: the line only has to
    // come back.
    if (Connected())
        return line->Reopen();
    return reconnect && reconnect();
}

RunTransport::Result LineRunTransport::readStatus(StatusRecord &status)
{
    if (!policy)
        return Result::NoAnswer;
    const Result result = ResultOf(policy->ReadStatus(status));
    if (statusShown)
        statusShown(result, status);
    return result;
}

RunTransport::Result LineRunTransport::readMeasurement(MeasurementRecord &measurement)
{
    return policy ? ResultOf(policy->ReadMeasurements(measurement)) : Result::NoAnswer;
}

RunTransport::Result LineRunTransport::writeSetpoints(const SetpointRecord &setpoints)
{
    if (!policy)
        return Result::NoAnswer;
    const SupplyOutcome outcome = policy->SetSetpoints(setpoints);
    return ResultOf(outcome, policy->LastStep());
}

RunTransport::Result LineRunTransport::writeOutput(bool on)
{
    if (!policy)
        return Result::NoAnswer;
    const SupplyOutcome outcome = policy->SetOutput(on);
    const Result result = ResultOf(outcome, policy->LastStep());
    if (result == Result::Done && outputShown)
        outputShown(on);
    return result;
}
