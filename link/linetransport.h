#pragma once

#include "linerequest.h"

// Makes one exchange on the line, blocking until it is answered, rejected or
// timed out. The schedule works through this so that it can be driven by a
// real link or by a scripted bus in tests.
class LineTransport
{
public:
    virtual ~LineTransport() = default;
    // reply receives a read's decoded reply when the result is GoodReply.
    virtual LinkResult Exchange(const LineRequest &request, QByteArray *reply) = 0;
    // The last exchange was answered at once as not asked: the line's
    // back-off holds its address, and nothing was sent.
    virtual bool NotAsked() const { return false; }
};
