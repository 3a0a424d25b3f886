#include "linemessage.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QIODevice>

namespace {

QDataStream &operator<<(QDataStream &out, const LineMember &m)
{
    return out << m.pid << m.program << m.addresses << m.doing << m.owner;
}

QDataStream &operator>>(QDataStream &in, LineMember &m)
{
    in >> m.pid >> m.program;
    // Read by hand: the container's own reader reserves whatever count the
    // stream claims, and a damaged count would ask for gigabytes.
    quint32 count = 0;
    in >> count;
    m.addresses.clear();
    if (count > 256) {
        in.setStatus(QDataStream::ReadCorruptData);
        return in;
    }
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        qint32 address = 0;
        in >> address;
        m.addresses.append(address);
    }
    return in >> m.doing >> m.owner;
}

}  // namespace

qint64 LineClockMs()
{
    // The monotonic clock's own reading: time since boot, the same in every
    // process (QueryPerformanceCounter on Windows is machine-wide too).
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}

QByteArray EncodeLineMessage(const LineMessage &message)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << LineMessage::Version << quint8(message.type) << message.serial;
    switch (message.type) {
    case LineMessage::Type::Hello:
    case LineMessage::Type::Doing:
        out << message.member;
        break;
    case LineMessage::Type::Request:
        out << quint8(message.request.kind) << message.request.address << message.request.command
            << message.request.access << message.request.minLength << message.request.payload
            << message.answerByMs;
        break;
    case LineMessage::Type::Outcome:
        out << int(message.outcome.result) << message.outcome.reply << message.outcome.notAsked;
        break;
    case LineMessage::Type::Members:
        out << quint32(message.members.size());
        for (const LineMember &m : message.members)
            out << m;
        break;
    case LineMessage::Type::Heard:
        out << message.heard.written << message.heard.address << message.heard.command
            << message.heard.bytes << message.heard.atMs;
        break;
    }
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << quint32(body.size());
    return framed + body;
}

LineMessageTaken TakeLineMessage(QByteArray &buffer, LineMessage &message)
{
    if (buffer.size() < 4)
        return LineMessageTaken::Partial;
    quint32 length = 0;
    {
        QDataStream frame(buffer.left(4));
        frame >> length;
    }
    if (length > LineMessage::MaxBody)
        return LineMessageTaken::Malformed;
    if (quint32(buffer.size()) < 4 + length)
        return LineMessageTaken::Partial;
    const QByteArray body = buffer.mid(4, int(length));
    buffer.remove(0, 4 + int(length));

    QDataStream in(body);
    in.setVersion(QDataStream::Qt_5_15);
    quint16 version = 0;
    quint8 type = 0;
    in >> version >> type >> message.serial;
    if (version != LineMessage::Version)
        return LineMessageTaken::Malformed;
    message.type = LineMessage::Type(type);
    switch (message.type) {
    case LineMessage::Type::Hello:
    case LineMessage::Type::Doing:
        in >> message.member;
        break;
    case LineMessage::Type::Request: {
        quint8 kind = 0;
        in >> kind >> message.request.address >> message.request.command >> message.request.access
            >> message.request.minLength >> message.request.payload >> message.answerByMs;
        if (kind > quint8(LineRequest::Kind::Write))
            return LineMessageTaken::Malformed;
        message.request.kind = LineRequest::Kind(kind);
        break;
    }
    case LineMessage::Type::Outcome: {
        int result = 0;
        in >> result >> message.outcome.reply >> message.outcome.notAsked;
        if (result < int(LinkResult::NoReply) || result > int(LinkResult::BadReply))
            return LineMessageTaken::Malformed;
        message.outcome.result = LinkResult(result);
        break;
    }
    case LineMessage::Type::Members: {
        quint32 count = 0;
        in >> count;
        if (count > 256)
            return LineMessageTaken::Malformed;
        message.members.clear();
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            LineMember m;
            in >> m;
            message.members.append(m);
        }
        break;
    }
    case LineMessage::Type::Heard:
        in >> message.heard.written >> message.heard.address >> message.heard.command
            >> message.heard.bytes >> message.heard.atMs;
        if (message.heard.bytes.size() > LineMessage::MaxHeardBytes)
            return LineMessageTaken::Malformed;
        break;
    default:
        return LineMessageTaken::Malformed;
    }
    return in.status() == QDataStream::Ok ? LineMessageTaken::Whole : LineMessageTaken::Malformed;
}
