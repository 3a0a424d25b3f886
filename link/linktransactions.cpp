#include "commandset.h"
#include "devicelink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

namespace {

// Longest a wait pass blocks on the port: short enough that the window's
// events are still handled every few milliseconds, long enough that a silent
// supply costs almost no processor time.
constexpr int PassBlockMs = 1;

}  // namespace

void DeviceLink::Trace(const QByteArray &bytes)
{
    // Latin-1 both ways keeps every received byte exactly as it came.
    trace << QString::fromLatin1(bytes);
}

void DeviceLink::TraceLineEnd()
{
    trace << '\n';
    trace.flush();
}

bool DeviceLink::ReadLinePart(QByteArray &line)
{
    if (!port || !port->isOpen())
        return false;
    const QByteArray bytes = port->read(ReadChunk);
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

void DeviceLink::WaitForInput()
{
    if (port && port->isOpen()) {
        if (port->bytesAvailable() == 0)
            port->waitForReadyRead(PassBlockMs);
    } else {
        QThread::msleep(PassBlockMs);
    }
}

bool DeviceLink::GetLine(QByteArray &line, quint8 timeoutMs)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    trace << "Call GetLine";
    TraceLineEnd();
    line.clear();
    for (;;) {
        QCoreApplication::processEvents();
        if (stopwatch.elapsed() > timeoutMs)
            return false;
        if (ReadLinePart(line))
            return true;
        WaitForInput();
    }
}

LinkResult DeviceLink::WriteTransaction(quint8 address, quint8 command, const quint8 *payload,
                                        int length, quint8 timeoutMs, quint8 access)
{
    SendFrame(address, command, access, payload, length);
    QByteArray line;
    if (!GetLine(line, timeoutMs))
        return NoReply;
    QByteArray reply;
    DecodeLine(line, reply);  // what decoded before a failure is judged all the same
    if (reply.size() >= 4 && quint8(reply.at(3)) == CommandSet::AccessAccepted)
        return GoodReply;
    return BadReply;
}

LinkResult DeviceLink::ReadTransaction(QByteArray &out, quint8 &count, quint8 address,
                                       quint8 command, quint8 minLength, quint8 timeoutMs,
                                       quint8 access)
{
    SendFrame(address, command, access, nullptr, 0);
    QByteArray line;
    if (!GetLine(line, timeoutMs))
        return NoReply;

    const int n = DecodeLine(line, out);
    count = quint8(n < 0 ? 0 : n);
    LinkResult result = GoodReply;
    if (n < 0) {
        trace << "Error crc";
        TraceLineEnd();
        result = BadReply;
    } else if (n < minLength) {
        trace << "Error linesize";
        TraceLineEnd();
        trace << n << ' ' << minLength;
        result = BadReply;
    } else {
        quint16 crc = 0xFFFF;
        for (int i = 0; i < n; ++i)
            crc = CrcStep(crc, quint8(out.at(i)));
        if (crc != 0) {
            trace << "Error crc";
            TraceLineEnd();
            result = BadReply;
        } else if (quint8(out.at(0)) != MasterAddress) {
            trace << "Error Id";
            TraceLineEnd();
            trace << int(qint8(out.at(0)));
            result = BadReply;
        }
    }
    trace.flush();
    return result;
}
