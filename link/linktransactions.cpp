#include "commandset.h"
#include "devicelink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

bool DeviceLink::ReadLinePart(QByteArray &line)
{
    if (!port || !port->isOpen())
        return false;
    return TakeLinePart(line, port->read(ReadChunk));
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

bool DeviceLink::GetLine(QByteArray &line, quint8 timeoutMs, int command)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    trace << "Call GetLine";
    TraceLineEnd();
    line.clear();
    // Wakes the last pass once the time is up, should nothing else arrive.
    QTimer deadline;
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    deadline.start(timeoutMs + 1);
    bool idle = false;  // the first pass reads at once
    for (;;) {
        QCoreApplication::processEvents(idle ? QEventLoop::WaitForMoreEvents
                                             : QEventLoop::AllEvents);
        if (stopwatch.elapsed() > timeoutMs)
            break;
        bool complete = ReadLinePart(line);
        while (complete && IsLateReply(line, command)) {
            if (frameTrace)
                TraceFrame('<', line.left(line.indexOf(Terminator)), "late reply, dropped");
            // What followed the late reply may be the start of the real one.
            const QByteArray rest = line.mid(line.indexOf(Terminator) + 1);
            line.clear();
            complete = TakeLinePart(line, rest);
        }
        if (complete) {
            // The frame's copy is made only for a trace that is on.
            if (frameTrace)
                TraceFrame('<', line.left(line.indexOf(Terminator)));
            return true;
        }
        idle = WaitForInput(line);
    }
    FlushTrace();
    return false;
}

LinkResult DeviceLink::WriteTransaction(quint8 address, quint8 command, const quint8 *payload,
                                        int length, quint8 timeoutMs, quint8 access)
{
    SendFrame(address, command, access, payload, length);
    QByteArray line;
    if (!GetLine(line, timeoutMs, command)) {
        NoteNoReply(command);
        return LinkResult::NoReply;
    }
    QByteArray reply;
    DecodeLine(line, reply);  // what decoded before a failure is judged all the same
    if (reply.size() >= 4 && quint8(reply.at(3)) == CommandSet::AccessAccepted)
        return LinkResult::GoodReply;
    return LinkResult::BadReply;
}

LinkResult DeviceLink::ReadTransaction(QByteArray &out, quint8 &count, quint8 address,
                                       quint8 command, quint8 minLength, quint8 timeoutMs,
                                       quint8 access)
{
    SendFrame(address, command, access, nullptr, 0);
    QByteArray line;
    if (!GetLine(line, timeoutMs, command)) {
        NoteNoReply(command);
        return LinkResult::NoReply;
    }
    return JudgeReadReply(line, out, count, minLength);
}

void DeviceLink::NoteNoReply(quint8 command)
{
    noReplyAt.insert(command, clock.elapsed());
    drainDue = true;
    quietSince = clock.elapsed();
}

void DeviceLink::DrainLateReply()
{
    if (!drainDue || !port || !port->isOpen())
        return;
    drainDue = false;
    // The reply to the request that timed out may still be on its way: were
    // it to arrive during the next request's wait, it would be taken as that
    // request's reply, an older reading passed off as new.
    QElapsedTimer bound;
    bound.start();
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    for (;;) {
        const QByteArray dropped = port->readAll();
        if (!dropped.isEmpty()) {
            quietSince = clock.elapsed();
            TraceFrame('<', dropped, "late, dropped");
        }
        const qint64 left =
            qMin(QuietMs - (clock.elapsed() - quietSince), DrainBoundMs - bound.elapsed());
        if (left <= 0 || !port->isOpen())
            return;
        wake.start(int(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool DeviceLink::IsLateReply(const QByteArray &line, int command)
{
    // Only the command byte of a recently unanswered request marks a line as
    // late: a supply may fill that byte otherwise, and any other reply is
    // judged as a reply. A measurement reply that came after its time-out is
    // long enough to pass as a status.
    if (command == AnyCommand)
        return false;
    QByteArray decoded;
    DecodeLine(line, decoded);
    if (decoded.size() < 3)
        return false;
    const quint8 replyCommand = quint8(decoded.at(2));
    if (replyCommand == command)
        return false;
    const auto at = noReplyAt.constFind(replyCommand);
    if (at == noReplyAt.constEnd() || clock.elapsed() - at.value() > LateReplyMs)
        return false;
    trace << "Error late reply";
    TraceLineEnd();
    trace << int(replyCommand);
    TraceLineEnd();
    return true;
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
