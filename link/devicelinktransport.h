#pragma once

#include "linetransport.h"

class DeviceLink;

// The line's exchanges through a DeviceLink's transactions, with the link's
// time-out. A read reply is taken only when it names the supply and the
// command that were asked: on a line with several supplies a reply from
// another one must never pass as this one's.
class DeviceLinkTransport : public LineTransport
{
public:
    explicit DeviceLinkTransport(DeviceLink &link);
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override;
    bool NotAsked() const override;

private:
    DeviceLink &link;
};
