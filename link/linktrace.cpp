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
