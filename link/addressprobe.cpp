#include "addressprobe.h"

#include "commandset.h"
#include "devicelink.h"
#include "linetransport.h"

namespace {

LineRequest ReadOf(quint8 address, quint8 command, quint8 minLength)
{
    LineRequest request;
    request.address = address;
    request.command = command;
    request.access = CommandSet::AccessRead;
    request.minLength = minLength;
    return request;
}

}  // namespace

std::optional<ProbedSupply> ProbeAddress(LineTransport &line, quint8 address)
{
    QByteArray reply;
    ProbedSupply supply;
    supply.address = address;
    if (line.Exchange(ReadOf(address, CommandSet::Status, CommandSet::StatusReply.min), &reply)
            != LinkResult::GoodReply
        || !DeviceLink::FillStatus(reply, supply.status))
        return std::nullopt;
    SetpointRecord setpoints;
    if (line.Exchange(ReadOf(address, CommandSet::Setpoints, CommandSet::SetpointsReply.min), &reply)
            == LinkResult::GoodReply
        && DeviceLink::FillSetpoints(reply, setpoints))
        supply.setpoints = setpoints;
    return supply;
}
