#include "devicelinktransport.h"

#include "devicelink.h"

DeviceLinkTransport::DeviceLinkTransport(DeviceLink &link)
    : link(link)
{
}

LinkResult DeviceLinkTransport::Exchange(const LineRequest &request, QByteArray *reply)
{
    if (request.kind == LineRequest::Kind::Write) {
        const LinkResult result =
            link.WriteTransaction(request.address, request.command,
                                  reinterpret_cast<const quint8 *>(request.payload.constData()),
                                  request.payload.size(), DeviceLink::TimeoutMs, request.access);
        // Another program's write changes what this one's panel shows.
        if (result == LinkResult::GoodReply)
            link.NoteWritten(request.address, request.command, request.payload);
        return result;
    }
    QByteArray decoded;
    quint8 count = 0;
    const LinkResult result = link.ReadTransaction(decoded, count, request.address, request.command,
                                                   request.minLength, DeviceLink::TimeoutMs,
                                                   request.access);
    if (result != LinkResult::GoodReply)
        return result;
    // The transaction has checked the length, the CRC and the destination.
    if (decoded.size() < 3 || quint8(decoded.at(1)) != request.address || quint8(decoded.at(2)) != request.command)
        return LinkResult::BadReply;
    *reply = decoded;
    link.NoteReply(request.address, request.command, decoded);
    return result;
}

bool DeviceLinkTransport::NotAsked() const
{
    return link.LastNotAsked();
}
