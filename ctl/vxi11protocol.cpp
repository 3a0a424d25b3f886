#include "vxi11protocol.h"

namespace Vxi11 {

namespace {

template <typename T>
std::optional<T> IfOk(const XdrReader &reader, const T &value)
{
    return reader.Ok() ? std::optional<T>(value) : std::nullopt;
}

}  // namespace

std::optional<CreateLinkParms> ReadCreateLink(XdrReader &reader)
{
    CreateLinkParms parms;
    parms.clientId = reader.I32();
    parms.lockDevice = reader.Bool();
    parms.lockTimeout = reader.U32();
    parms.device = reader.Opaque(MaxDeviceName);
    return IfOk(reader, parms);
}

std::optional<WriteParms> ReadWrite(XdrReader &reader)
{
    WriteParms parms;
    parms.link = reader.U32();
    parms.ioTimeout = reader.U32();
    parms.lockTimeout = reader.U32();
    parms.flags = reader.I32();
    parms.data = reader.Opaque(MaxWriteData);
    return IfOk(reader, parms);
}

std::optional<ReadParms> ReadRead(XdrReader &reader)
{
    ReadParms parms;
    parms.link = reader.U32();
    parms.requestSize = reader.U32();
    parms.ioTimeout = reader.U32();
    parms.lockTimeout = reader.U32();
    parms.flags = reader.I32();
    // A char travels as a whole word.
    parms.termChar = char(reader.U32() & 0xFF);
    return IfOk(reader, parms);
}

std::optional<GenericParms> ReadGeneric(XdrReader &reader)
{
    GenericParms parms;
    parms.link = reader.U32();
    parms.flags = reader.I32();
    parms.lockTimeout = reader.U32();
    parms.ioTimeout = reader.U32();
    return IfOk(reader, parms);
}

std::optional<GenericParms> ReadLock(XdrReader &reader)
{
    GenericParms parms;
    parms.link = reader.U32();
    parms.flags = reader.I32();
    parms.lockTimeout = reader.U32();
    return IfOk(reader, parms);
}

std::optional<GenericParms> ReadLinkOnly(XdrReader &reader)
{
    GenericParms parms;
    parms.link = reader.U32();
    return IfOk(reader, parms);
}

QByteArray CreateLinkResult(qint32 error, quint32 link, quint16 abortPort, quint32 maxReceive)
{
    XdrWriter writer;
    writer.I32(error).U32(link).U32(abortPort).U32(maxReceive);
    return writer.Data();
}

QByteArray WriteResult(qint32 error, quint32 size)
{
    XdrWriter writer;
    writer.I32(error).U32(size);
    return writer.Data();
}

QByteArray ReadResult(qint32 error, qint32 reason, const QByteArray &data)
{
    XdrWriter writer;
    writer.I32(error).I32(reason).Opaque(data);
    return writer.Data();
}

QByteArray ReadStbResult(qint32 error, quint8 statusByte)
{
    XdrWriter writer;
    writer.I32(error).U32(statusByte);
    return writer.Data();
}

QByteArray ErrorResult(qint32 error)
{
    XdrWriter writer;
    writer.I32(error);
    return writer.Data();
}

}  // namespace Vxi11

namespace Portmap {

std::optional<Mapping> ReadMapping(XdrReader &reader)
{
    Mapping mapping;
    mapping.program = reader.U32();
    mapping.version = reader.U32();
    mapping.protocol = reader.U32();
    mapping.port = reader.U32();
    return reader.Ok() ? std::optional<Mapping>(mapping) : std::nullopt;
}

void WriteMapping(XdrWriter &writer, const Mapping &mapping)
{
    writer.U32(mapping.program).U32(mapping.version).U32(mapping.protocol).U32(mapping.port);
}

}  // namespace Portmap
