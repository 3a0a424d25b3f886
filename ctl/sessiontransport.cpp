#include "sessiontransport.h"

#include "commandcontext.h"
#include "sharedline.h"

namespace {

RunTransport::Result ResultOf(SupplyOutcome outcome)
{
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

SessionTransport::SessionTransport(CommandContext &context)
    : context(context)
{
}

bool SessionTransport::isOpen() const
{
    return context.Line().IsOpen() && !context.Line().Interrupted();
}

bool SessionTransport::handingOver() const
{
    return context.Line().HandingOver() || context.Line().Interrupted();
}

bool SessionTransport::reopen()
{
    return context.Line().Reopen();
}

RunTransport::Result SessionTransport::readStatus(StatusRecord &status)
{
    return ResultOf(context.Session().ReadStatus(status));
}

RunTransport::Result SessionTransport::readMeasurement(MeasurementRecord &measurement)
{
    return ResultOf(context.Session().ReadMeasurements(measurement));
}

RunTransport::Result SessionTransport::writeSetpoints(const SetpointRecord &setpoints)
{
    return ResultOf(context.Session().SetSetpoints(setpoints.VoltageSet / 1000.0, setpoints.CurrentSet / 1000.0));
}

RunTransport::Result SessionTransport::writeOutput(bool on)
{
    return ResultOf(context.Session().SetOutput(on));
}
