#pragma once

#include "addressbackoff.h"
#include "commandset.h"
#include "linkresult.h"
#include "records.h"
#include "unansweredrequests.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <QtGlobal>

class LineSchedule;
class LineTransport;
class QObject;
class QSerialPort;
struct LineOutcome;
struct LineRequest;
class SupplyStates;

// The supply's protocol engine: frames requests onto the serial port, gathers
// and judges replies, and decodes them into records. It never opens, closes or
// configures the port, and it does not own it.
class DeviceLink
{
public:
    DeviceLink();
    ~DeviceLink();

    void SetPort(QSerialPort *port);
    bool PortOpen() const;
    // On a line another program owns: every transaction goes to that program
    // through remote instead of to the port (nullptr: the port again).
    void SetRemote(LineTransport *remote) { this->remote = remote; }
    bool IsRemote() const { return remote != nullptr; }
    // The line's one queue, through which every transaction goes: this
    // program's own (each a request of the queue's current user, made once
    // the requests due before it are), those of the programs attached to it,
    // every SCPI instrument's and the watch's. Its run step is the one place
    // where exchanges are made.
    LineSchedule &Schedule();
    // Runs what is queued from the event loop, soon (after the exchange under
    // way, if any): for users that queue requests instead of blocking.
    void RunScheduleSoon();
    // One blocking request through the queue; the requests due before it
    // (writes, other users' reads whose turn it is) are made first. reply
    // receives a read's decoded reply, checked to come from the address and
    // command asked.
    LinkResult Transact(const LineRequest &request, QByteArray *reply);
    // Where every good read reply and every acknowledged write is told
    // (nullptr: nowhere); the states must outlive the link's use of them.
    // On a line another program owns the states hear it from the owner
    // instead (SharedLine), in the order the owner heard it: the owner tells
    // a reply before it answers the request, so that this link's own note
    // would come after a later reply's.
    void SetStates(SupplyStates *states) { this->states = states; }
    SupplyStates *States() const { return states; }
    // On a line this program serves to others: also told every good reply
    // (written false, the reply) and acknowledged write (written true, its
    // payload), to pass on to them.
    using HeardHook = std::function<void(bool written, quint8 address, quint8 command, const QByteArray &bytes)>;
    void SetHeardHook(HeardHook hook) { heardHook = std::move(hook); }
    void NoteReply(quint8 address, quint8 command, const QByteArray &reply);
    void NoteWritten(quint8 address, quint8 command, const QByteArray &payload);
    // True while an exchange is being made: the line is not free for another,
    // and a request made now waits for its end.
    bool InExchange() const { return exchangeDepth > 0; }
    // Where the trace goes: the standard output at first; nullptr turns it
    // off. A trace write that fails (a closed pipe, a full disk) turns it off
    // too, so that tracing can never stop the link.
    void SetTraceStream(FILE *stream);
    // The same to a device of the caller's, which must outlive the link
    // (or be replaced first).
    void SetTraceDevice(QIODevice *device);
    // A trace of whole frames instead: one line per frame sent (">") or
    // received ("<"), stamped with a monotonic clock in seconds to the millisecond; nullptr
    // turns it off. It replaces the receive parser's trace, which goes off.
    void SetFrameTrace(FILE *stream);

    // The line's one back-off from supplies that stopped answering, kept
    // here where every request to the port passes (this program's own, those
    // of the programs attached to it, every SCPI instrument and the watch):
    // a read for an address being backed off and not yet due is answered
    // NoReply at once, nothing sent; writes are always made. On a line
    // another program owns, that program's back-off decides.
    const AddressBackoff &Backoff() const { return backoff; }
    // How long until a read may go to address: 0 when it may now.
    qint64 BackoffWaitMs(quint8 address) const;
    // The last transaction was answered as not asked: its address was being
    // backed off (here or by the line's owner) and nothing was sent.
    bool LastNotAsked() const { return lastNotAsked; }

    // Before a program lets the port go: reads and judges what the line
    // brings while requests are unanswered, until each is answered or the
    // line has been quiet for QuietMs, within DrainBoundMs plus QuietMs for
    // each of them, so that the next user of the port meets no late reply.
    void DrainLateReply();

    // Codec.
    void PortWrite(const char *chars, int count);
    // True when the whole frame was handed to an open port.
    bool SendFrame(quint8 address, quint8 command, quint8 access, const quint8 *payload, int length);
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
    // Any complete line, paired with no request.
    bool GetLine(QByteArray &line, quint8 timeoutMs);
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
    // Replies are paired with requests by the supply's address and the
    // command (a write's acknowledgement with a write, a read's reply with a
    // read): a supply answers in the order asked, so a reply answers the
    // oldest unanswered request with its key, and a request whose key is
    // still unanswered is not sent (its reply could not be told from the
    // earlier one's) until a read of another command has been answered.
    // Every call sends one request (its own or that read), so the first call
    // after a silence reaches the supply.
    // The latest a reply held back in transit comes after its request, while
    // later replies overtake it; until then its request is not given up.
    static constexpr qint64 OvertakeMs = 350;
    // A line that has been quiet this long (the longest frame's time at 9600
    // baud) has no reply on its way: a supply answering a backlog sends its
    // replies back to back.
    static constexpr qint64 QuietMs = 60;
    // A supply answering requests it holds starts each reply within this of
    // the last one's end (a USB adapter may hold bytes back for 16 ms): a
    // line quiet this long carries no more of a backlog.
    static constexpr qint64 BackToBackMs = 30;
    // The longest the link waits for that quiet before it lets the port go.
    static constexpr qint64 DrainBoundMs = 250;
    // While a supply answers requests sent before the one awaited (a backlog
    // after a stall), each of its replies gives the wait TimeoutMs more, by
    // at most this much over a call: the awaited reply comes after theirs.
    static constexpr qint64 BacklogWaitMs = 1000;

private:
    static quint16 CrcStep(quint16 crc, quint8 byte);
    // Reads a reply and checks it is long enough for its record's layout.
    template <typename Record>
    LinkResult ReadRecord(quint8 address, quint8 command, CommandSet::ReplyLength length,
                          quint8 access, Record &record,
                          bool (*fill)(const QByteArray &, Record &));
    // What a wait is for.
    enum class WaitFor {
        AnyLine,  // any complete line
        Reply,    // the reply to the caller's request
        Probe,    // the reply to a read sent to settle the line
        Listen,   // no request with the key left unanswered at the address
        Quiet,    // the line quiet for BackToBackMs
        Drain,    // every request answered, or the line quiet for QuietMs
    };
    struct Awaited {
        WaitFor kind = WaitFor::AnyLine;
        quint64 serial = 0;
        quint8 address = 0;
        int request = 0;  // the request's kind (see UnansweredRequests)
        bool backlog = false;  // a reply to an earlier request to the address came
    };
    enum class Pairing { Take, Drop, Hold };
    struct Step {
        WaitFor kind;  // Reply: send the request, Probe: send a read of request
        int request;
    };
    // Sends the request (or first settles the line) and waits for its reply
    // within timeoutMs: GoodReply with the reply line, or a line that cannot
    // be judged, in line; BadReply when a settling read met a damaged line.
    LinkResult Exchange(QByteArray &line, quint8 address, quint8 command, quint8 access,
                        const quint8 *payload, int length, quint8 timeoutMs);
    Step NextStep(quint8 address, int kind);
    bool AwaitLine(QByteArray &line, qint64 timeoutMs, Awaited &awaited);
    Pairing Pair(const QByteArray &line, Awaited &awaited, const QByteArray &held);
    // Judges what the port already holds against the unanswered requests.
    void TakeInPending();
    // Waits briefly for input; true when the next pass should sleep in the
    // event loop instead.
    bool WaitForInput(const QByteArray &line);
    void DrainOutput(int timeoutMs);
    void Trace(const QByteArray &bytes);
    void TraceLineEnd();
    void FlushTrace();
    void TraceFrame(char direction, const QByteArray &text, const char *note = nullptr);
    // A complete line that is dropped: the receive parser's trace gets the
    // error and its numbers, the frame trace the line and the note.
    void TraceDropped(const QByteArray &line, const char *error, const QByteArray &numbers,
                      const char *note);

    // Marks a transaction in progress for its scope.
    class ExchangeScope;
    // Makes the queue's requests: the only caller of MakeWrite and MakeRead.
    class Maker;
    LineOutcome Make(const LineRequest &request);
    LinkResult MakeWrite(quint8 address, quint8 command, const quint8 *payload, int length,
                         quint8 timeoutMs, quint8 access);
    LinkResult MakeRead(QByteArray &out, quint8 &count, quint8 address, quint8 command,
                        quint8 minLength, quint8 timeoutMs, quint8 access);
    LinkResult RemoteTransaction(QByteArray *out, quint8 address, quint8 command, quint8 access,
                                 const quint8 *payload, int length, quint8 minLength);
    // Tells the back-off how an exchange with address begun at began went.
    void NoteAsked(quint8 address, qint64 began, LinkResult exchanged);

    QSerialPort *port = nullptr;
    LineTransport *remote = nullptr;
    SupplyStates *states = nullptr;
    HeardHook heardHook;
    std::unique_ptr<Maker> maker;
    std::unique_ptr<LineSchedule> schedule;
    // Context of the queue's runs from the event loop.
    std::unique_ptr<QObject> runner;
    bool runPosted = false;
    int exchangeDepth = 0;
    QElapsedTimer clock;
    UnansweredRequests unanswered;
    AddressBackoff backoff;
    // When each supply last answered a request of this link, by clock.
    std::array<qint64, 256> answeredAt{};
    bool lastNotAsked = false;
    // How much a call's waits have grown while a backlog was answered.
    qint64 backlogExtraMs = 0;
    // When a byte was last read from the line, by clock.
    qint64 heardAt = -1;
    // Set from the start (what the line carries is not known yet) and once a
    // line that answers nothing this link asked has been met, until the line
    // has been quiet for BackToBackMs: replies this link does not know of
    // (left by a program before it) may be on the line, one of them with the
    // awaited key. A request then waits for the quiet, and its reply is the
    // last line of its key before the line goes quiet.
    bool foreignFlowing = true;
    FILE *frameTrace = nullptr;
    QFile traceFile;
    std::unique_ptr<QIODevice> traceDiscard;
    QTextStream trace;
};
