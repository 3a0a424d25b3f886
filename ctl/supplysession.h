#pragma once

#include "writepolicy.h"

#include <memory>

class QSerialPort;

namespace detail {
// Holds the link of a session that has its own, so that it is made before
// the policy that uses it.
struct SessionLink {
    std::unique_ptr<DeviceLink> ownLink;  // null on a shared link
};
}  // namespace detail

// The supply as velkaroctl's commands and its SCPI server see it: the line's
// write policy on a port that is already open and set up. Never opens or
// closes the port.
class SupplySession : private detail::SessionLink, public WritePolicy
{
public:
    SupplySession(QSerialPort *port, quint8 address);
    // A session for another address on the same line, through that line's
    // one link, so that a request that went unanswered for one address is
    // drained before the next request for any other. The link must outlive
    // the session.
    SupplySession(DeviceLink &sharedLink, quint8 address);
    // Drains a late reply still on its way, for the port's next user.
    ~SupplySession();

    // One line per frame sent and received goes to stream (nullptr: off,
    // the default).
    void SetFrameTrace(FILE *stream);
};
