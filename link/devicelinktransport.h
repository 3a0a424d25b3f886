#pragma once

#include "linetransport.h"

class DeviceLink;

// The line's exchanges as blocking calls on a DeviceLink: each goes through
// the link's queue like the program's own transactions, and a read reply is
// taken only when it names the supply and the command that were asked.
class DeviceLinkTransport : public LineTransport
{
public:
    explicit DeviceLinkTransport(DeviceLink &link);
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override;
    bool NotAsked() const override;

private:
    DeviceLink &link;
};
