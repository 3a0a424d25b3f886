#include "devicelinktransport.h"

#include "devicelink.h"

DeviceLinkTransport::DeviceLinkTransport(DeviceLink &link)
    : link(link)
{
}

LinkResult DeviceLinkTransport::Exchange(const LineRequest &request, QByteArray *reply)
{
    return link.Transact(request, reply);
}

bool DeviceLinkTransport::NotAsked() const
{
    return link.LastNotAsked();
}
