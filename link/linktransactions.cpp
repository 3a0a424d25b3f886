#include "commandset.h"
#include "devicelink.h"
#include "lineschedule.h"
#include "linetransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

bool DeviceLink::ReadLinePart(QByteArray &line)
{
    if (!port || !port->isOpen())
        return false;
    const QByteArray bytes = port->read(ReadChunk);
    if (!bytes.isEmpty())
        heardAt = clock.elapsed();
    return TakeLinePart(line, bytes);
}

bool DeviceLink::TakeLinePart(QByteArray &line, const QByteArray &bytes)
{
    Trace(bytes);

    if (line.isEmpty()) {
        const int start = bytes.indexOf(StartChar);
        if (start < 0)
            return false;
        line = bytes.mid(start);
        trace << "line=";
        Trace(line);
        TraceLineEnd();
    } else {
        line.append(bytes);
        trace << "line+";
        Trace(bytes);
        TraceLineEnd();
    }

    const int end = line.indexOf(Terminator);
    const int frameChars = end < 0 ? line.size() : end + 1;
    // A start character followed by more than any frame of the command set can
    // hold is not a reply: drop it and wait for a new start character, so that
    // a stream of junk never grows the held line.
    if (frameChars > CommandSet::MaxLineChars || (end < 0 && frameChars == CommandSet::MaxLineChars)) {
        trace << "Error overlong line";
        TraceLineEnd();
        line.clear();
        return false;
    }
    if (end < 0)
        return false;
    TraceLineEnd();
    trace << "LineCode = ";
    Trace(line);
    TraceLineEnd();
    return true;
}

bool DeviceLink::WaitForInput(const QByteArray &line)
{
    if (!port || !port->isOpen())
        return true;
    if (port->bytesAvailable() > 0)
        return false;
    // While a reply streams in, a character comes every millisecond at 9600
    // baud: waiting on the port alone is the cheapest way to meet each one,
    // and the window's events are still handled every pass.
    if (!line.isEmpty()) {
        port->waitForReadyRead(1);
        return false;
    }
    // Before a reply starts, the next pass sleeps in the event loop until
    // something happens: bytes at the port, an event of the window, or the
    // deadline. A silent supply then costs no processor time.
    return true;
}

namespace {

// The reads that settle the line: cheap, and without effect on the supply.
const QList<int> ProbeKinds{CommandSet::Setpoints, CommandSet::Status, CommandSet::Measurements,
                             CommandSet::UserParams};

// The kind of a request: its command, and whether it writes.
int KindOf(quint8 command, bool write)
{
    return command | (write ? 0x100 : 0);
}

// A decoded line names the request it answers only when it is a whole frame
// to the master with a good CRC: source address in byte 1, command in byte 2,
// and in byte 3 a write's acknowledgement code, or for a read's reply
// whatever the supply puts there: supplies differ in what they write in a
// read reply's access byte, and taking anything but the acknowledgement code
// for a write's answer would drop every read of such a supply.
bool KeyOf(const QByteArray &decoded, quint8 &source, quint8 &command, int &kind)
{
    if (decoded.size() < CommandSet::HeaderBytes + CommandSet::CrcBytes
        || DeviceLink::CrcOver(decoded) != 0 || quint8(decoded.at(0)) != DeviceLink::MasterAddress)
        return false;
    source = quint8(decoded.at(1));
    command = quint8(decoded.at(2));
    kind = KindOf(command, quint8(decoded.at(3)) == CommandSet::AccessAccepted);
    return true;
}

// The request as the line carries it, from a transaction's arguments.
LineRequest RequestOf(LineRequest::Kind kind, quint8 address, quint8 command, quint8 access,
                      const quint8 *payload, int length)
{
    LineRequest request;
    request.kind = kind;
    request.address = address;
    request.command = command;
    request.access = access;
    if (payload && length > 0)
        request.payload = QByteArray(reinterpret_cast<const char *>(payload), length);
    return request;
}

}  // namespace

bool DeviceLink::GetLine(QByteArray &line, quint8 timeoutMs)
{
    Awaited any;
    return AwaitLine(line, timeoutMs, any);
}

bool DeviceLink::AwaitLine(QByteArray &line, qint64 timeoutMs, Awaited &awaited)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    trace << "Call GetLine";
    TraceLineEnd();
    line.clear();
    // The awaited reply, held while replies this link never asked for may
    // still bring a later one of its key.
    QByteArray held;
    const qint64 since = clock.elapsed();
    const bool quietEnds = awaited.kind == WaitFor::Quiet || awaited.kind == WaitFor::Drain;
    // Wakes the last pass once the time is up, should nothing else arrive.
    QTimer deadline;
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    deadline.start(int(qMax<qint64>(timeoutMs, 0)) + 1);
    awaited.backlog = false;
    QTimer quietWake;
    quietWake.setTimerType(Qt::PreciseTimer);
    quietWake.setSingleShot(true);
    bool idle = false;  // the first pass reads at once
    for (;;) {
        // A timer may fire a little before the stopwatch says the time is up
        // (Windows' multimedia timers, which precise Qt timers are there, by
        // up to a millisecond): an idle pass with none armed would sleep
        // until the supply next speaks, which a silent one never does.
        if (idle && !deadline.isActive())
            deadline.start(int(qMax<qint64>(timeoutMs - stopwatch.elapsed(), 0)) + 1);
        QCoreApplication::processEvents(idle ? QEventLoop::WaitForMoreEvents
                                             : QEventLoop::AllEvents);
        if (stopwatch.elapsed() > timeoutMs)
            break;
        bool complete = ReadLinePart(line);
        while (complete) {
            const int end = line.indexOf(Terminator);
            const Pairing pairing = Pair(line, awaited, held);
            if (pairing == Pairing::Take) {
                // The frame's copy is made only for a trace that is on.
                if (frameTrace)
                    TraceFrame('<', line.left(end));
                return true;
            }
            // What followed the line may be the start of the awaited one.
            const QByteArray rest = line.mid(end + 1);
            if (pairing == Pairing::Hold)
                held = line.left(end + 1);
            line.clear();
            complete = TakeLinePart(line, rest);
        }
        if (awaited.backlog) {
            // The supply answers requests sent before this one: it is
            // there, and this one's reply comes after theirs.
            awaited.backlog = false;
            const qint64 wanted = stopwatch.elapsed() + TimeoutMs;
            const qint64 grow = qMin(wanted - timeoutMs, BacklogWaitMs - backlogExtraMs);
            if (grow > 0) {
                timeoutMs += grow;
                backlogExtraMs += grow;
                deadline.start(int(timeoutMs - stopwatch.elapsed()) + 1);
            }
        }
        if (awaited.kind == WaitFor::Listen && !unanswered.Contains(awaited.address, awaited.request))
            return true;
        if (awaited.kind == WaitFor::Drain && unanswered.IsEmpty() && line.isEmpty())
            return true;
        if ((quietEnds || !held.isEmpty()) && line.isEmpty()) {
            const qint64 quietFor = clock.elapsed() - qMax(heardAt, since);
            const qint64 enough = awaited.kind == WaitFor::Drain ? QuietMs : BackToBackMs;
            if (quietFor >= enough) {
                foreignFlowing = false;
                line = held;
                if (frameTrace && !held.isEmpty())
                    TraceFrame('<', held.left(held.indexOf(Terminator)));
                return true;
            }
            quietWake.start(int(enough - quietFor));
        }
        idle = WaitForInput(line);
    }
    if (!held.isEmpty() && awaited.kind == WaitFor::Reply) {
        // Not known to be the reply: the request still counts as unanswered,
        // so that its reply, should it come later, is not taken for another.
        unanswered.Add(awaited.address, awaited.request, clock.elapsed());
        TraceFrame('<', held.left(held.indexOf(Terminator)), "not known to be the reply, dropped");
    }
    FlushTrace();
    return false;
}

DeviceLink::Pairing DeviceLink::Pair(const QByteArray &line, Awaited &awaited,
                                     const QByteArray &held)
{
    if (awaited.kind == WaitFor::AnyLine)
        return Pairing::Take;
    QByteArray decoded;
    DecodeLine(line, decoded);
    quint8 source = 0;
    quint8 command = 0;
    int kind = 0;
    if (!KeyOf(decoded, source, command, kind)) {
        // The caller's own wait ends on it, to be judged as before; so does
        // a settling read's, whose failure is the call's.
        if (awaited.kind == WaitFor::Reply || awaited.kind == WaitFor::Probe)
            return Pairing::Take;
        TraceDropped(line, "Error not a reply", {}, "not a reply, dropped");
        return Pairing::Drop;
    }
    if (awaited.kind == WaitFor::Reply && !held.isEmpty() && source == awaited.address
        && kind == awaited.request) {
        TraceDropped(held, "Error late reply", QByteArray::number(command), "late reply, dropped");
        return Pairing::Hold;
    }
    quint64 answered = unanswered.Answer(source, kind, clock.elapsed(), OvertakeMs);
    // A reply that is no acknowledgement, when no read of its command is
    // waiting, is a write's refusal.
    if (answered == 0 && kind == KindOf(command, false))
        answered = unanswered.Answer(source, KindOf(command, true), clock.elapsed(), OvertakeMs);
    if (answered != 0)
        answeredAt[source] = clock.elapsed();
    if (answered == 0) {
        foreignFlowing = true;
        TraceDropped(line, "Error unrequested reply",
                     QByteArray::number(source) + ' ' + QByteArray::number(command),
                     "unrequested reply, dropped");
        return Pairing::Drop;
    }
    // A settling read whose key an earlier request had too: after a silence
    // that lost that one, its reply is taken for the earlier request's. The
    // last such reply before the line goes quiet ends the wait: replies of a
    // backlog come back to back.
    if (awaited.kind == WaitFor::Probe && source == awaited.address && kind == awaited.request
        && answered != awaited.serial)
        return Pairing::Hold;
    if (answered != awaited.serial
        || (awaited.kind != WaitFor::Reply && awaited.kind != WaitFor::Probe)) {
        if ((awaited.kind == WaitFor::Reply || awaited.kind == WaitFor::Probe)
            && source == awaited.address && answered < awaited.serial)
            awaited.backlog = true;
        TraceDropped(line, "Error late reply", QByteArray::number(command), "late reply, dropped");
        return Pairing::Drop;
    }
    if (awaited.kind == WaitFor::Reply && foreignFlowing)
        return Pairing::Hold;
    return Pairing::Take;
}

void DeviceLink::TakeInPending()
{
    if (!port || !port->isOpen())
        return;
    // What the driver holds reaches the port's buffer only when it is read.
    port->waitForReadyRead(0);
    const QByteArray bytes = port->readAll();
    if (bytes.isEmpty())
        return;
    heardAt = clock.elapsed();
    Awaited pending;
    pending.kind = WaitFor::Quiet;
    QByteArray line;
    bool complete = TakeLinePart(line, bytes);
    while (complete) {
        const int end = line.indexOf(Terminator);
        Pair(line, pending, {});
        const QByteArray rest = line.mid(end + 1);
        line.clear();
        complete = TakeLinePart(line, rest);
    }
    // A line cut off here was on its way before the request: its tail has no
    // start character and is dropped when it comes.
    if (!line.isEmpty())
        TraceFrame('<', line, "dropped");
}

DeviceLink::Step DeviceLink::NextStep(quint8 address, int kind)
{
    // Every call asks the supply something: a link that only listened after
    // unanswered requests would wait for replies to requests a supply that
    // lost them never sends, and miss the moment it answers again.
    unanswered.Expire(address, clock.elapsed(), OvertakeMs);
    if (!unanswered.Contains(address, kind))
        return {WaitFor::Reply, kind};
    // A settling read is never the request itself: that would be one more
    // try of it, behind its caller's back.
    QList<int> probes = ProbeKinds;
    probes.removeAll(kind);
    for (int probe : probes) {
        if (!unanswered.Contains(address, probe))
            return {WaitFor::Probe, probe};
    }
    // Every settling read is unanswered too: the one whose reply retires the
    // most, so that a supply that lost its requests is found again.
    return {WaitFor::Probe, unanswered.LatestFirstOf(address, probes)};
}

LinkResult DeviceLink::Exchange(QByteArray &line, quint8 address, quint8 command, quint8 access,
                                const quint8 *payload, int length, quint8 timeoutMs)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    backlogExtraMs = 0;
    const auto left = [&] { return qMax<qint64>(timeoutMs + backlogExtraMs - stopwatch.elapsed(), 0); };
    Awaited reply;
    reply.kind = WaitFor::Reply;
    reply.address = address;
    reply.request = KindOf(command, access == CommandSet::AccessWrite);
    TakeInPending();
    if (foreignFlowing && heardAt >= 0) {
        // Replies this link never asked for are coming: let them pass first.
        Awaited quiet;
        quiet.kind = WaitFor::Quiet;
        if (clock.elapsed() - heardAt < BackToBackMs && !AwaitLine(line, left(), quiet))
            return LinkResult::NoReply;
        foreignFlowing = false;
    }
    bool probed = false;
    for (;;) {
        Step step = NextStep(address, reply.request);
        // One settling read a call: once the supply has answered it, an
        // earlier request of the same key can only still be answered late
        // in transit; the call waits for that to be over, then asks.
        if (step.kind == WaitFor::Probe && probed) {
            const qint64 givenUpAt = unanswered.OldestSentAt(address, reply.request) + OvertakeMs + 1;
            if (givenUpAt - clock.elapsed() >= left())
                return LinkResult::NoReply;
            Awaited listen;
            listen.kind = WaitFor::Listen;
            listen.address = address;
            listen.request = reply.request;
            if (!AwaitLine(line, givenUpAt - clock.elapsed(), listen) && left() <= 0)
                return LinkResult::NoReply;
            probed = false;  // the key is free now, or the wait is over
            if (unanswered.Contains(address, reply.request)) {
                unanswered.Expire(address, clock.elapsed(), OvertakeMs);
                if (unanswered.Contains(address, reply.request))
                    return LinkResult::NoReply;
            }
            continue;
        }
        if (step.kind == WaitFor::Reply) {
            if (SendFrame(address, command, access, payload, length))
                reply.serial = unanswered.Add(address, reply.request, clock.elapsed());
            if (!AwaitLine(line, left(), reply))
                return LinkResult::NoReply;
            // A damaged line names no request; when this one is the only
            // request unanswered on the line, and nothing unasked is coming,
            // the line can only be its reply: it is answered (and judged
            // by the caller), so that its next try is sent at once.
            QByteArray decoded;
            DecodeLine(line, decoded);
            quint8 source = 0;
            quint8 replyCommand = 0;
            int kind = 0;
            if (!KeyOf(decoded, source, replyCommand, kind) && !foreignFlowing
                && unanswered.Count() == 1 && unanswered.Contains(reply.serial))
                unanswered.Answer(address, reply.request, clock.elapsed(), OvertakeMs);
            return LinkResult::GoodReply;
        }
        // A read whose reply cannot be mistaken: once it is answered, every
        // earlier request to the supply is answered or lost (given up once
        // OvertakeMs old).
        Awaited probe;
        probe.kind = WaitFor::Probe;
        probe.address = address;
        probe.request = step.request;
        if (SendFrame(address, quint8(step.request), CommandSet::AccessRead, nullptr, 0))
            probe.serial = unanswered.Add(address, step.request, clock.elapsed());
        if (!AwaitLine(line, left(), probe))
            return LinkResult::NoReply;
        quint8 source = 0;
        quint8 replyCommand = 0;
        int kind = 0;
        QByteArray decoded;
        DecodeLine(line, decoded);
        if (!KeyOf(decoded, source, replyCommand, kind)) {
            trace << "Error crc";
            TraceLineEnd();
            return LinkResult::BadReply;
        }
        probed = true;
    }
}

class DeviceLink::ExchangeScope
{
public:
    explicit ExchangeScope(DeviceLink &link)
        : link(link)
    {
        ++link.exchangeDepth;
    }
    ~ExchangeScope() { --link.exchangeDepth; }
    ExchangeScope(const ExchangeScope &) = delete;
    ExchangeScope &operator=(const ExchangeScope &) = delete;

private:
    DeviceLink &link;
};

LinkResult DeviceLink::RemoteTransaction(QByteArray *out, quint8 address, quint8 command,
                                         quint8 access, const quint8 *payload, int length,
                                         quint8 minLength)
{
    LineRequest request = RequestOf(out ? LineRequest::Kind::Read : LineRequest::Kind::Write, address,
                                    command, access, payload, length);
    request.minLength = minLength;
    QByteArray reply;
    // The line may be taken over during the exchange, which clears remote.
    LineTransport *through = remote;
    const LinkResult result = through->Exchange(request, &reply);
    lastNotAsked = through->NotAsked();
    if (out)
        *out = reply;
    if (frameTrace) {
        std::fprintf(frameTrace, "%.3f %c address %d command %d through the line's owner: %s\n",
                     double(clock.elapsed()) / 1000.0, out ? 'r' : 'w', address, command,
                     result == LinkResult::GoodReply ? "answered"
                     : result == LinkResult::NoReply ? "no reply"
                                                     : "rejected");
        std::fflush(frameTrace);
    }
    return result;
}

LinkResult DeviceLink::MakeWrite(quint8 address, quint8 command, const quint8 *payload, int length,
                                 quint8 timeoutMs, quint8 access)
{
    if (remote)
        return RemoteTransaction(nullptr, address, command, access, payload, length, 0);
    QByteArray line;
    const qint64 began = clock.elapsed();
    const LinkResult exchanged = Exchange(line, address, command, access, payload, length, timeoutMs);
    NoteAsked(address, began, exchanged);
    if (exchanged != LinkResult::GoodReply)
        return exchanged;
    // The one judgement of an acknowledgement for every program: whole, with
    // a good CRC, to the master, from the supply asked, for the command
    // written. A damaged line proves nothing was written (the supply may have
    // refused it, or it may answer another request): the write is tried again.
    QByteArray reply;
    DecodeLine(line, reply);
    quint8 source = 0;
    quint8 replyCommand = 0;
    int kind = 0;
    if (!KeyOf(reply, source, replyCommand, kind) || source != address || replyCommand != command
        || kind != KindOf(command, true))
        return LinkResult::BadReply;
    return LinkResult::GoodReply;
}

LinkResult DeviceLink::MakeRead(QByteArray &out, quint8 &count, quint8 address, quint8 command,
                                quint8 minLength, quint8 timeoutMs, quint8 access)
{
    if (remote) {
        const LinkResult result = RemoteTransaction(&out, address, command, access, nullptr, 0, minLength);
        count = quint8(qMin(out.size(), 255));
        return result;
    }
    if (!backoff.MayAsk(address, clock.elapsed())) {
        lastNotAsked = true;
        if (frameTrace) {
            std::fprintf(frameTrace, "%.3f r address %d command %d not asked: backing off\n",
                         double(clock.elapsed()) / 1000.0, address, command);
            std::fflush(frameTrace);
        }
        return LinkResult::NoReply;
    }
    QByteArray line;
    const qint64 began = clock.elapsed();
    const LinkResult exchanged = Exchange(line, address, command, access, nullptr, 0, timeoutMs);
    NoteAsked(address, began, exchanged);
    if (exchanged != LinkResult::GoodReply)
        return exchanged;
    return JudgeReadReply(line, out, count, minLength);
}

class DeviceLink::Maker : public LineTransport
{
public:
    explicit Maker(DeviceLink &link)
        : link(link)
    {
    }
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override
    {
        const LineOutcome outcome = link.Make(request);
        *reply = outcome.reply;
        return outcome.result;
    }
    bool NotAsked() const override { return link.lastNotAsked; }

private:
    DeviceLink &link;
};

DeviceLink::DeviceLink()
{
    clock.start();
    answeredAt.fill(-1);
    SetTraceStream(stdout);
}

DeviceLink::~DeviceLink() = default;

LineSchedule &DeviceLink::Schedule()
{
    if (!schedule) {
        maker = std::make_unique<Maker>(*this);
        schedule = std::make_unique<LineSchedule>(*maker);
        runner = std::make_unique<QObject>();
    }
    return *schedule;
}

void DeviceLink::RunScheduleSoon()
{
    if (runPosted)
        return;
    Schedule();
    runPosted = true;
    QTimer::singleShot(0, runner.get(), [this] {
        runPosted = false;
        // During an exchange the loop that makes it carries on with what was
        // queued meanwhile (or, a blocking call's, posts this run again).
        schedule->RunAll();
    });
}

LinkResult DeviceLink::Transact(const LineRequest &request, QByteArray *reply)
{
    LineSchedule &queue = Schedule();
    if (queue.Exchanging()) {
        // Called from an event handled while an exchange waits: a blocking
        // caller cannot wait for the exchange beneath it to end. Front ends
        // queue such work instead (LineServer, the SCPI turns, the window's
        // tick); this is made at once as before, and the trace says so.
        if (frameTrace) {
            std::fprintf(frameTrace, "%.3f %c address %d command %d made during another exchange\n",
                         double(clock.elapsed()) / 1000.0,
                         request.kind == LineRequest::Kind::Write ? 'w' : 'r', request.address,
                         request.command);
            std::fflush(frameTrace);
        }
        const LineOutcome outcome = Make(request);
        if (reply)
            *reply = outcome.reply;
        return outcome.result;
    }
    LineOutcome outcome;
    const quint64 ticket = queue.Submit(queue.CurrentUser(), request,
                                        [&outcome](const LineOutcome &made) { outcome = made; });
    queue.RunUntilDone(ticket);
    lastNotAsked = outcome.notAsked;
    if (reply)
        *reply = outcome.reply;
    // Others' requests queued behind this one are made from the event loop.
    if (!queue.IsIdle())
        RunScheduleSoon();
    return outcome.result;
}

LineOutcome DeviceLink::Make(const LineRequest &request)
{
    ExchangeScope scope(*this);
    lastNotAsked = false;
    const quint8 timeoutMs = request.timeoutMs ? request.timeoutMs : TimeoutMs;
    LineOutcome outcome;
    if (request.kind == LineRequest::Kind::Write) {
        outcome.result = MakeWrite(request.address, request.command,
                                   reinterpret_cast<const quint8 *>(request.payload.constData()),
                                   request.payload.size(), timeoutMs, request.access);
        // Whoever wrote it, the line's supply states learn what it holds now.
        if (outcome.result == LinkResult::GoodReply)
            NoteWritten(request.address, request.command, request.payload);
        outcome.notAsked = lastNotAsked;
        return outcome;
    }
    QByteArray decoded;
    quint8 count = 0;
    outcome.result = MakeRead(decoded, count, request.address, request.command, request.minLength,
                              timeoutMs, request.access);
    outcome.notAsked = lastNotAsked;
    if (outcome.result != LinkResult::GoodReply)
        return outcome;
    // The exchange has checked the length, the CRC and the destination; on a
    // line with several supplies a reply from another one never passes as
    // this one's.
    if (decoded.size() < 3 || quint8(decoded.at(1)) != request.address
        || quint8(decoded.at(2)) != request.command) {
        outcome.result = LinkResult::BadReply;
        return outcome;
    }
    outcome.reply = decoded;
    NoteReply(request.address, request.command, decoded);
    return outcome;
}

LinkResult DeviceLink::WriteTransaction(quint8 address, quint8 command, const quint8 *payload,
                                        int length, quint8 timeoutMs, quint8 access)
{
    LineRequest request = RequestOf(LineRequest::Kind::Write, address, command, access, payload, length);
    request.timeoutMs = timeoutMs;
    return Transact(request, nullptr);
}

LinkResult DeviceLink::ReadTransaction(QByteArray &out, quint8 &count, quint8 address,
                                       quint8 command, quint8 minLength, quint8 timeoutMs,
                                       quint8 access)
{
    LineRequest request = RequestOf(LineRequest::Kind::Read, address, command, access, nullptr, 0);
    request.minLength = minLength;
    request.timeoutMs = timeoutMs;
    const LinkResult result = Transact(request, &out);
    count = quint8(qMin(out.size(), 255));
    return result;
}

void DeviceLink::NoteAsked(quint8 address, qint64 began, LinkResult exchanged)
{
    // A supply whose reply came late, or answered an earlier request, is
    // there all the same: only silence counts as a miss.
    backoff.Asked(address, clock.elapsed(),
                  exchanged != LinkResult::NoReply || answeredAt[address] >= began);
}

qint64 DeviceLink::BackoffWaitMs(quint8 address) const
{
    const qint64 now = clock.elapsed();
    return backoff.MayAsk(address, now) ? 0 : backoff.NextTryMs(address) - now;
}

void DeviceLink::DrainLateReply()
{
    if (remote || unanswered.IsEmpty() || !port || !port->isOpen())
        return;
    Awaited drain;
    drain.kind = WaitFor::Drain;
    QByteArray line;
    AwaitLine(line, DrainBoundMs + QuietMs * unanswered.Count(), drain);
}

LinkResult DeviceLink::JudgeReadReply(const QByteArray &line, QByteArray &out, quint8 &count,
                                      quint8 minLength)
{
    const int n = DecodeLine(line, out);
    count = quint8(n < 0 ? 0 : n);
    LinkResult result = LinkResult::GoodReply;
    if (n < 0) {
        trace << "Error crc";
        TraceLineEnd();
        result = LinkResult::BadReply;
    } else if (n < minLength) {
        trace << "Error linesize";
        TraceLineEnd();
        trace << n << ' ' << minLength;
        result = LinkResult::BadReply;
    } else {
        if (CrcOver(out) != 0) {
            trace << "Error crc";
            TraceLineEnd();
            result = LinkResult::BadReply;
        } else if (quint8(out.at(0)) != MasterAddress) {
            trace << "Error Id";
            TraceLineEnd();
            trace << int(qint8(out.at(0)));
            result = LinkResult::BadReply;
        }
    }
    FlushTrace();
    return result;
}
