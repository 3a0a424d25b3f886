// Feeds arbitrary bytes to what the VXI-11 server and the portmapper make of
// a client's stream: record marking (in pieces of a size the first byte
// picks), the call header, and every argument structure of the core, abort
// and portmapper programs; checks what comes out.
//
// Each record taken out, marked again and fed to a fresh reader, must come
// back whole and alone; each structure decoded, encoded again, must decode
// to the same values.

#include "fuzzcheck.h"
#include "oncrpc.h"
#include "vxi11protocol.h"

#include <QByteArray>

#include <cstdint>

namespace {

constexpr int MaxRecord = 4096;

void checkMarking(const QByteArray &record)
{
    RpcRecordReader again(MaxRecord);
    again.Append(RpcRecordMark(record));
    QByteArray back;
    FUZZ_CHECK(again.Next(&back) == RpcRecordReader::Result::Record);
    FUZZ_CHECK(back == record);
    FUZZ_CHECK(again.Buffered() == 0);
}

void checkArguments(const QByteArray &record, int from)
{
    {
        XdrReader reader(record, from);
        if (const auto parms = Vxi11::ReadCreateLink(reader)) {
            FUZZ_CHECK(quint32(parms->device.size()) <= Vxi11::MaxDeviceName);
            XdrWriter writer;
            writer.I32(parms->clientId).Bool(parms->lockDevice).U32(parms->lockTimeout).Opaque(parms->device);
            XdrReader back(writer.Data());
            const auto again = Vxi11::ReadCreateLink(back);
            FUZZ_CHECK(again && again->device == parms->device && again->lockTimeout == parms->lockTimeout);
            FUZZ_CHECK(back.Remaining() == 0);
        }
    }
    {
        XdrReader reader(record, from);
        if (const auto parms = Vxi11::ReadWrite(reader)) {
            FUZZ_CHECK(quint32(parms->data.size()) <= Vxi11::MaxWriteData);
            // The data and its padding lie within the record.
            FUZZ_CHECK(reader.Position() <= record.size());
            FUZZ_CHECK(reader.Position() % 4 == from % 4);
        }
    }
    {
        XdrReader reader(record, from);
        if (const auto parms = Vxi11::ReadRead(reader)) {
            FUZZ_CHECK(reader.Position() == from + 24);
        }
    }
    XdrReader generic(record, from);
    XdrReader lock(record, from);
    XdrReader link(record, from);
    XdrReader mapping(record, from);
    const bool whole = record.size() - from >= 16;
    FUZZ_CHECK(bool(Vxi11::ReadGeneric(generic)) == whole);
    FUZZ_CHECK(bool(Vxi11::ReadLock(lock)) == (record.size() - from >= 12));
    FUZZ_CHECK(bool(Vxi11::ReadLinkOnly(link)) == (record.size() - from >= 4));
    if (const auto asked = Portmap::ReadMapping(mapping)) {
        XdrWriter writer;
        Portmap::WriteMapping(writer, *asked);
        FUZZ_CHECK(writer.Data() == record.mid(from, 16));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = 1 + data[0] % 64;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));

    // As a stream, in pieces.
    RpcRecordReader reader(MaxRecord);
    for (int at = 0; at < input.size(); at += piece) {
        reader.Append(input.mid(at, piece));
        QByteArray record;
        RpcRecordReader::Result result;
        while ((result = reader.Next(&record)) == RpcRecordReader::Result::Record) {
            FUZZ_CHECK(record.size() <= MaxRecord);
            checkMarking(record);
            if (const auto call = ParseRpcCall(record)) {
                FUZZ_CHECK(call->arguments >= 40 && call->arguments <= record.size());
                checkArguments(record, call->arguments);
            }
        }
        // Never more than one fragment's worth waits while more is needed.
        FUZZ_CHECK(reader.Buffered() <= MaxRecord + 4 + piece);
        if (result == RpcRecordReader::Result::TooLong)
            break;
    }
    // As a datagram.
    if (const auto call = ParseRpcCall(input))
        checkArguments(input, call->arguments);
    checkArguments(input, 0);
    return 0;
}
