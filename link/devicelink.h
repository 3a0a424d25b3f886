#pragma once

#include "commandset.h"
#include "linkresult.h"
#include "records.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <QtGlobal>

class QSerialPort;

// The supply's protocol engine: frames requests onto the serial port, gathers
// and judges replies, and decodes them into records. It never opens, closes or
// configures the port, and it does not own it.
class DeviceLink
{
public:
    DeviceLink();

    void SetPort(QSerialPort *port);
    // Where the trace goes: the standard output at first; nullptr turns it
    // off. A trace write that fails (a closed pipe, a full disk) turns it off
    // too, so that tracing can never stop the link.
    void SetTraceStream(FILE *stream);
    // A trace of whole frames instead: one line per frame sent (">") or
    // received ("<"), stamped with a monotonic clock in seconds to the millisecond; nullptr
    // turns it off. It replaces the receive parser's trace, which goes off.
    void SetFrameTrace(FILE *stream);

    // After an unanswered request: reads and drops until the line has been
    // quiet for QuietMs since the time-out or the last byte, within
    // DrainBoundMs; nothing otherwise. Each request does it first; a program
    // does it before it lets the port go too, so that the next one to open it
    // does not meet the late reply.
    void DrainLateReply();

    // Codec.
    void PortWrite(const char *chars, int count);
    void SendFrame(quint8 address, quint8 command, quint8 access, const quint8 *payload, int length);
    // CRC-16/CCITT-FALSE of the bytes; over a whole frame with its CRC, 0
    // when the frame is intact.
    static quint16 CrcOver(const QByteArray &bytes);
    static bool HexPairToByte(char first, char second, quint8 *byte);
    // Number of bytes decoded into out, or -1 when the line does not decode.
    static int DecodeLine(const QByteArray &line, QByteArray &out);
    // Whole frame text for the given header and payload bytes: start character,
    // hex digits, CRC high byte first, terminator. For the supply's side and tests.
    static QByteArray EncodeFrame(const QByteArray &bytes);

    // Transactions.
    LinkResult WriteTransaction(quint8 address, quint8 command, const quint8 *payload, int length,
                                quint8 timeoutMs, quint8 access);
    LinkResult ReadTransaction(QByteArray &out, quint8 &count, quint8 address, quint8 command,
                               quint8 minLength, quint8 timeoutMs, quint8 access);
    // With a command, a line that carries the command byte of another request
    // that went unanswered within LateReplyMs is dropped and the wait goes on.
    bool GetLine(QByteArray &line, quint8 timeoutMs, int command = AnyCommand);
    bool ReadLinePart(QByteArray &line);
    // One pass of ReadLinePart over the bytes of one read: true once the held
    // line is complete.
    bool TakeLinePart(QByteArray &line, const QByteArray &bytes);
    // Judges a complete line as the reply to a read: decodes it into out (count
    // bytes) and checks its length, CRC and destination.
    LinkResult JudgeReadReply(const QByteArray &line, QByteArray &out, quint8 &count,
                              quint8 minLength);

    // Commands.
    LinkResult GetStatus(quint8 address, StatusRecord &record);
    LinkResult GetMeasurements(quint8 address, MeasurementRecord &record);
    LinkResult GetSetpoints(quint8 address, SetpointRecord &record);
    LinkResult SetSetpoints(quint8 address, int millivolts, int milliamperes);
    LinkResult SetOutput(quint8 address, int value);
    LinkResult GetCalibration(quint8 address, CalibrationRecord &record, quint8 access);
    LinkResult SetCalibration(quint8 address, const CalibrationRecord &values, quint8 access);
    LinkResult GetUserParams(quint8 address, UserParamRecord &record, quint8 access);
    LinkResult SetUserParams(quint8 address, const UserParamRecord &values, quint8 access);
    LinkResult GetUserParamsShort(quint8 address, UserParamShortRecord &record, quint8 access);

    // Record layouts: each fills its record from a judged reply and returns
    // true, or leaves the record as it was and returns false when the reply is
    // too short for the layout.
    static bool FillStatus(const QByteArray &reply, StatusRecord &record);
    static bool FillMeasurements(const QByteArray &reply, MeasurementRecord &record);
    static bool FillSetpoints(const QByteArray &reply, SetpointRecord &record);
    static bool FillCalibration(const QByteArray &reply, CalibrationRecord &record);
    static bool FillUserParams(const QByteArray &reply, UserParamRecord &record);
    static bool FillUserParamsShort(const QByteArray &reply, UserParamShortRecord &record);

    static constexpr char HexAlphabet[] = "0123456789ABCDEF";
    static constexpr char StartChar = '#';
    static constexpr char Terminator = '\r';
    static constexpr quint8 MasterAddress = 0x80;
    static constexpr quint8 TimeoutMs = 200;
    static constexpr int ReadChunk = 100;
    static constexpr int AnyCommand = -1;
    // How long the reply to a request that went unanswered may still come.
    static constexpr qint64 LateReplyMs = 1000;
    // After a request went unanswered, the line must have been quiet this
    // long before the next request goes out: the longest frame's time at 9600
    // baud, so that a late reply is met whole and dropped.
    static constexpr qint64 QuietMs = 60;
    // The longest the link waits for that quiet, so that a line full of junk
    // cannot hold it.
    static constexpr qint64 DrainBoundMs = 250;

private:
    static quint16 CrcStep(quint16 crc, quint8 byte);
    // Reads a reply and checks it is long enough for its record's layout.
    template <typename Record>
    LinkResult ReadRecord(quint8 address, quint8 command, CommandSet::ReplyLength length,
                          quint8 access, Record &record,
                          bool (*fill)(const QByteArray &, Record &));
    void DiscardInput();
    void NoteNoReply(quint8 command);
    // True when the complete line is the late reply to another request than
    // command's; traces it.
    bool IsLateReply(const QByteArray &line, int command);
    // Waits briefly for input; true when the next pass should sleep in the
    // event loop instead.
    bool WaitForInput(const QByteArray &line);
    void DrainOutput(int timeoutMs);
    void Trace(const QByteArray &bytes);
    void TraceLineEnd();
    void FlushTrace();
    void TraceFrame(char direction, const QByteArray &text, const char *note = nullptr);

    QSerialPort *port = nullptr;
    QElapsedTimer clock;
    // When each command's last request went unanswered, by clock.
    QHash<quint8, qint64> noReplyAt;
    // Set by a request that went unanswered: the next one drains first.
    bool drainDue = false;
    // When the line was last heard from (or the last time-out), by clock.
    qint64 quietSince = 0;
    FILE *frameTrace = nullptr;
    QFile traceFile;
    std::unique_ptr<QIODevice> traceDiscard;
    QTextStream trace;
};
