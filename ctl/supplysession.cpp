#include "supplysession.h"

namespace {

DeviceLink &NewLink(std::unique_ptr<DeviceLink> &holder, QSerialPort *port)
{
    holder = std::make_unique<DeviceLink>();
    holder->SetPort(port);
    holder->SetTraceStream(nullptr);
    return *holder;
}

}  // namespace

SupplySession::SupplySession(QSerialPort *port, quint8 address)
    : WritePolicy(NewLink(ownLink, port), address)
{
}

SupplySession::SupplySession(DeviceLink &sharedLink, quint8 address)
    : WritePolicy(sharedLink, address)
{
}

SupplySession::~SupplySession()
{
    Link().DrainLateReply();
}

void SupplySession::SetFrameTrace(FILE *stream)
{
    Link().SetFrameTrace(stream);
}
