#include "oncrpc.h"

#include <QtEndian>

namespace {

constexpr quint32 LastFragment = 0x80000000u;

int Padding(quint32 length)
{
    return int((4 - length % 4) % 4);
}

}  // namespace

XdrWriter &XdrWriter::U32(quint32 value)
{
    char word[4];
    qToBigEndian(value, word);
    data.append(word, 4);
    return *this;
}

XdrWriter &XdrWriter::Opaque(const QByteArray &bytes)
{
    U32(quint32(bytes.size()));
    data += bytes;
    data.append(Padding(quint32(bytes.size())), '\0');
    return *this;
}

quint32 XdrReader::U32()
{
    if (!ok || data.size() - at < 4) {
        ok = false;
        return 0;
    }
    const quint32 value = qFromBigEndian<quint32>(data.constData() + at);
    at += 4;
    return value;
}

QByteArray XdrReader::Opaque(quint32 maximum)
{
    const quint32 length = U32();
    // Compared in 64 bits: a length near 2^32 must not wrap into a small one.
    if (!ok || length > maximum || quint64(length) + quint64(Padding(length)) > quint64(data.size() - at)) {
        ok = false;
        return {};
    }
    const QByteArray bytes = data.mid(at, int(length));
    at += int(length) + Padding(length);
    return bytes;
}

RpcRecordReader::Result RpcRecordReader::Next(QByteArray *record)
{
    int at = 0;
    Result result = Result::NeedMore;
    while (buffer.size() - at >= 4) {
        const quint32 mark = qFromBigEndian<quint32>(buffer.constData() + at);
        const quint32 length = mark & ~LastFragment;
        if (quint64(length) + quint64(partial.size()) > quint64(maximum)) {
            buffer.clear();
            partial.clear();
            return Result::TooLong;
        }
        if (quint64(buffer.size() - at - 4) < length)
            break;
        partial.append(buffer.constData() + at + 4, int(length));
        at += 4 + int(length);
        if (mark & LastFragment) {
            record->clear();
            record->swap(partial);
            result = Result::Record;
            break;
        }
    }
    buffer.remove(0, at);
    return result;
}

QByteArray RpcRecordMark(const QByteArray &record)
{
    XdrWriter mark;
    mark.U32(LastFragment | quint32(record.size()));
    return mark.Data() + record;
}

std::optional<RpcCall> ParseRpcCall(const QByteArray &record)
{
    XdrReader reader(record);
    RpcCall call;
    call.xid = reader.U32();
    if (reader.U32() != Rpc::Call || !reader.Ok())
        return std::nullopt;
    call.rpcVersion = reader.U32();
    call.program = reader.U32();
    call.version = reader.U32();
    call.procedure = reader.U32();
    // Credential and verifier: flavour and body. Any flavour is taken: the
    // instruments do not authenticate, as on a bench.
    for (int i = 0; i < 2; ++i) {
        reader.U32();
        reader.Opaque(Rpc::MaxAuthBytes);
    }
    if (!reader.Ok())
        return std::nullopt;
    call.arguments = reader.Position();
    return call;
}

QByteArray RpcAcceptedReply(quint32 xid, quint32 stat, const QByteArray &results)
{
    XdrWriter reply;
    // MSG_ACCEPTED with a null verifier.
    reply.U32(xid).U32(Rpc::Reply).U32(0).U32(0).U32(0).U32(stat);
    return reply.Data() + results;
}

QByteArray RpcVersionMismatchReply(quint32 xid)
{
    XdrWriter reply;
    // MSG_DENIED, RPC_MISMATCH, lowest and highest version.
    reply.U32(xid).U32(Rpc::Reply).U32(1).U32(0).U32(Rpc::Version).U32(Rpc::Version);
    return reply.Data();
}
