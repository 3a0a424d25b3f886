#include "devicelink.h"

namespace {

// Takes every byte and keeps none: the trace's device while tracing is off,
// so that the stream never piles up what it is given.
class DiscardDevice : public QIODevice
{
public:
    DiscardDevice() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override { return length; }
};

}  // namespace

void DeviceLink::SetTraceStream(FILE *stream)
{
    trace.flush();
    trace.setDevice(nullptr);
    traceFile.close();
    if (stream && traceFile.open(stream, QIODevice::WriteOnly)) {
        trace.setDevice(&traceFile);
    } else {
        if (!traceDiscard)
            traceDiscard = std::make_unique<DiscardDevice>();
        trace.setDevice(traceDiscard.get());
    }
    trace.setCodec("ISO-8859-1");
}

void DeviceLink::SetTraceDevice(QIODevice *device)
{
    if (!device) {
        SetTraceStream(nullptr);
        return;
    }
    trace.flush();
    trace.setDevice(nullptr);
    traceFile.close();
    trace.setDevice(device);
    trace.setCodec("ISO-8859-1");
}

void DeviceLink::Trace(const QByteArray &bytes)
{
    // Latin-1 both ways keeps every received byte exactly as it came.
    trace << QString::fromLatin1(bytes);
}

void DeviceLink::TraceLineEnd()
{
    trace << '\n';
    FlushTrace();
}

void DeviceLink::FlushTrace()
{
    trace.flush();
    if (trace.status() == QTextStream::WriteFailed) {
        trace.resetStatus();
        SetTraceStream(nullptr);
    }
}

void DeviceLink::SetFrameTrace(FILE *stream)
{
    frameTrace = stream;
    if (stream)
        SetTraceStream(nullptr);
}

void DeviceLink::TraceFrame(char direction, const QByteArray &text, const char *note)
{
    if (!frameTrace)
        return;
    const qint64 ms = clock.elapsed();
    QByteArray line = QByteArray::number(ms / 1000) + '.'
                      + QByteArray::number(ms % 1000).rightJustified(3, '0') + ' ' + direction + ' ';
    // Control characters (a stray terminator, junk) are shown, not obeyed.
    for (char c : text) {
        if (c == Terminator)
            continue;
        if (quint8(c) < 0x20 || quint8(c) >= 0x7F)
            line += "\\x" + QByteArray::number(quint8(c), 16).rightJustified(2, '0');
        else
            line += c;
    }
    if (note)
        line += QByteArray(" (") + note + ')';
    line += '\n';
    if (std::fwrite(line.constData(), 1, size_t(line.size()), frameTrace) != size_t(line.size())
        || std::fflush(frameTrace) != 0)
        frameTrace = nullptr;
}

void DeviceLink::TraceDropped(const QByteArray &line, const char *error, const QByteArray &numbers,
                              const char *note)
{
    trace << error;
    TraceLineEnd();
    if (!numbers.isEmpty()) {
        Trace(numbers);
        TraceLineEnd();
    }
    if (frameTrace)
        TraceFrame('<', line.left(line.indexOf(Terminator)), note);
}
