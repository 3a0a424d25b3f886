// Feeds arbitrary bytes, split into reads, through what the link does with
// received data: gathering the line, decoding it, judging it as a read reply
// and filling every record from it.
//
// Input: the first byte chooses the mode (bit 0) and the minimum reply length
// to judge with (the other bits).
//  - Raw mode: the rest is a run of reads, each a length byte (modulo the read
//    size + 1, so empty reads happen too) followed by that many bytes.
//  - Framed mode: the next byte holds the number of cut lengths that follow;
//    the bytes after them are a header and payload, which become a frame with
//    a valid CRC, cut into reads of those lengths.

#include "fuzzcheck.h"
#include "commandset.h"
#include "devicelink.h"

#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int HeldLineBound = CommandSet::MaxLineChars + DeviceLink::ReadChunk;

// Every field starts at a value that no reply can produce, so a changed field
// shows that a fill happened.
constexpr int32_t Untouched = -1000000;

template <typename Record>
Record untouchedRecord()
{
    Record record;
    auto *field = reinterpret_cast<int32_t *>(&record);
    for (size_t i = 0; i < sizeof(Record) / sizeof(int32_t); ++i)
        field[i] = Untouched;
    return record;
}

template <typename Record>
void checkFields(const Record &record, bool filled)
{
    const auto *field = reinterpret_cast<const int32_t *>(&record);
    for (size_t i = 0; i < sizeof(Record) / sizeof(int32_t); ++i) {
        if (filled)
            FUZZ_CHECK(field[i] >= -32768 && field[i] <= 65535);
        else
            FUZZ_CHECK(field[i] == Untouched);
    }
}

// Judges the line as the reply to one read and fills that read's record the
// way the command does: only from a good reply.
template <typename Record>
void judgeAndFill(DeviceLink &link, const QByteArray &line, CommandSet::ReplyLength length,
                  bool (*fill)(const QByteArray &, Record &))
{
    QByteArray reply;
    quint8 count = 0xAA;
    const LinkResult result = link.JudgeReadReply(line, reply, count, length.min);
    FUZZ_CHECK(result == LinkResult::GoodReply || result == LinkResult::BadReply);
    FUZZ_CHECK(reply.size() <= CommandSet::MaxFrameBytes);
    FUZZ_CHECK(count <= CommandSet::MaxFrameBytes);
    if (result == LinkResult::GoodReply) {
        FUZZ_CHECK(count == reply.size() && count >= length.min);
        FUZZ_CHECK(quint8(reply.at(0)) == CommandSet::MasterAddress);
    }

    Record record = untouchedRecord<Record>();
    const bool filled = result == LinkResult::GoodReply && fill(reply, record);
    FUZZ_CHECK(filled == (result == LinkResult::GoodReply && reply.size() >= length.full));
    checkFields(record, filled);

    // A fill never takes a reply shorter than its layout, judged or not.
    Record unjudged = untouchedRecord<Record>();
    const bool unjudgedFilled = fill(reply, unjudged);
    FUZZ_CHECK(unjudgedFilled == (reply.size() >= length.full));
    checkFields(unjudged, unjudgedFilled);
}

void judgeLine(DeviceLink &link, const QByteArray &line, quint8 minLength)
{
    using namespace CommandSet;
    QByteArray decoded;
    const int n = DeviceLink::DecodeLine(line, decoded);
    FUZZ_CHECK(n <= MaxFrameBytes);
    FUZZ_CHECK(n < 0 || n == decoded.size());

    QByteArray reply;
    quint8 count = 0;
    const LinkResult result = link.JudgeReadReply(line, reply, count, minLength);
    FUZZ_CHECK(result == LinkResult::GoodReply || result == LinkResult::BadReply);
    if (result == LinkResult::GoodReply)
        FUZZ_CHECK(reply == decoded && count >= minLength);

    judgeAndFill(link, line, StatusReply, &DeviceLink::FillStatus);
    judgeAndFill(link, line, MeasurementsReply, &DeviceLink::FillMeasurements);
    judgeAndFill(link, line, SetpointsReply, &DeviceLink::FillSetpoints);
    judgeAndFill(link, line, CalibrationReply, &DeviceLink::FillCalibration);
    judgeAndFill(link, line, UserParamsReply, &DeviceLink::FillUserParams);
    judgeAndFill(link, line, UserParamsShortReply, &DeviceLink::FillUserParamsShort);
}

// Gathers the reads into lines as GetLine does, and judges every line that
// completes.
void receive(DeviceLink &link, const std::vector<QByteArray> &reads, quint8 minLength)
{
    QByteArray line;
    for (const QByteArray &bytes : reads) {
        FUZZ_CHECK(bytes.size() <= DeviceLink::ReadChunk);
        const bool complete = link.TakeLinePart(line, bytes);
        FUZZ_CHECK(line.size() <= HeldLineBound);
        if (!complete)
            continue;
        FUZZ_CHECK(line.startsWith(DeviceLink::StartChar));
        const int end = line.indexOf(DeviceLink::Terminator);
        FUZZ_CHECK(end > 0 && end < CommandSet::MaxLineChars);
        judgeLine(link, line, minLength);
        line.clear();
    }
    // Whatever is held at the end is judged too: a line that decodes partly
    // must be rejected, never read past.
    judgeLine(link, line, minLength);
}

std::vector<QByteArray> rawReads(const uint8_t *data, size_t size)
{
    std::vector<QByteArray> reads;
    size_t i = 0;
    while (i < size) {
        const size_t length = data[i++] % (DeviceLink::ReadChunk + 1);
        const size_t taken = std::min(length, size - i);
        reads.emplace_back(reinterpret_cast<const char *>(data + i), int(taken));
        i += taken;
    }
    return reads;
}

std::vector<QByteArray> framedReads(const uint8_t *data, size_t size)
{
    if (size == 0)
        return {};
    const size_t cutCount = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t *cuts = data + 1;
    const QByteArray body(reinterpret_cast<const char *>(data + 1 + cutCount),
                          int(size - 1 - cutCount));
    const QByteArray frame = DeviceLink::EncodeFrame(body);

    std::vector<QByteArray> reads;
    int at = 0;
    for (size_t c = 0; at < frame.size(); ++c) {
        const int length = c < cutCount ? cuts[c] % (DeviceLink::ReadChunk + 1)
                                        : DeviceLink::ReadChunk;
        reads.push_back(frame.mid(at, length));
        at += length;
    }
    return reads;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The link traces every read to standard output; the fuzzer's own reports
    // go to standard error.
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const quint8 minLengths[] = {
        0,
        CommandSet::StatusReply.min,
        CommandSet::MeasurementsReply.min,
        CommandSet::SetpointsReply.min,
        CommandSet::CalibrationReply.min,
        CommandSet::UserParamsReply.min,
        CommandSet::UserParamsShortReply.min,
        CommandSet::HeaderBytes + CommandSet::CrcBytes,
    };
    const quint8 minLength = minLengths[(data[0] >> 1) % 8];
    const bool framed = data[0] & 1;

    static DeviceLink link;
    receive(link, framed ? framedReads(data + 1, size - 1) : rawReads(data + 1, size - 1),
            minLength);
    return 0;
}
