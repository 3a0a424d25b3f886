#pragma once

// ONC RPC (RFC 5531) as the LAN instrument programs speak it: XDR values
// (RFC 4506), call and reply messages, and record marking on a stream.
//
// Our own small codec rather than the system's RPC library: that library is
// not there for the Windows build, whose toolchain has no port of it, and the
// VXI-11 core channel and the portmapper use only a handful of XDR types. It
// never trusts a length before checking it against what is there and a limit,
// and is fuzzed (fuzz/oncrpc_fuzzer.cpp).

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// Writes XDR values: big-endian 32-bit words, variable data padded to four.
class XdrWriter
{
public:
    XdrWriter &U32(quint32 value);
    XdrWriter &I32(qint32 value) { return U32(quint32(value)); }
    XdrWriter &Bool(bool value) { return U32(value ? 1 : 0); }
    // Variable-length opaque data or a string: its length, then the bytes.
    XdrWriter &Opaque(const QByteArray &bytes);
    const QByteArray &Data() const { return data; }

private:
    QByteArray data;
};

// Reads XDR values from a buffer. A read past the end, or a length above
// the limit given, fails the reader for good: every later read gives 0 or
// nothing, and Ok() is false.
class XdrReader
{
public:
    explicit XdrReader(const QByteArray &data, int from = 0)
        : data(data)
        , at(from)
    {
    }

    quint32 U32();
    qint32 I32() { return qint32(U32()); }
    // Any nonzero word is true, as the usual decoders take it.
    bool Bool() { return U32() != 0; }
    QByteArray Opaque(quint32 maximum);
    bool Ok() const { return ok; }
    int Position() const { return at; }
    int Remaining() const { return ok ? data.size() - at : 0; }

private:
    const QByteArray &data;
    int at;
    bool ok = true;
};

// Reassembles records from the fragments of a stream: each fragment starts
// with a word whose top bit marks the last fragment of its record and whose
// other 31 bits give its length.
class RpcRecordReader
{
public:
    enum class Result { Record, NeedMore, TooLong };

    // maximum: the largest record accepted, fragments together.
    explicit RpcRecordReader(int maximum)
        : maximum(maximum)
    {
    }

    void Append(const QByteArray &bytes) { buffer += bytes; }
    // Takes the next whole record out of what was appended. TooLong: a
    // fragment announces more than the limit allows; the stream cannot be
    // followed further and the connection should be closed.
    Result Next(QByteArray *record);
    int Buffered() const { return buffer.size(); }

private:
    int maximum;
    QByteArray buffer;
    QByteArray partial;
};

// One record in a single, last fragment.
QByteArray RpcRecordMark(const QByteArray &record);

namespace Rpc {
constexpr quint32 Call = 0;
constexpr quint32 Reply = 1;
constexpr quint32 Version = 2;
// accept_stat
constexpr quint32 Success = 0;
constexpr quint32 ProgramUnavailable = 1;
constexpr quint32 ProgramMismatch = 2;
constexpr quint32 ProcedureUnavailable = 3;
constexpr quint32 GarbageArguments = 4;
// The most an authentication body may hold.
constexpr quint32 MaxAuthBytes = 400;
}  // namespace Rpc

struct RpcCall {
    quint32 xid = 0;
    quint32 rpcVersion = 0;
    quint32 program = 0;
    quint32 version = 0;
    quint32 procedure = 0;
    // Where the procedure's arguments start in the record.
    int arguments = 0;
};

// The call in a record; nothing for a record that is not a well-formed call
// header (a reply, a truncated header, an oversized credential), which gets
// no answer.
std::optional<RpcCall> ParseRpcCall(const QByteArray &record);

// An accepted reply: stat, then results (for Success) or the mismatch's
// lowest and highest version (for ProgramMismatch, written by the caller).
QByteArray RpcAcceptedReply(quint32 xid, quint32 stat, const QByteArray &results = {});
// The answer to a call of another RPC version than 2.
QByteArray RpcVersionMismatchReply(quint32 xid);
