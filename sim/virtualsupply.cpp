#include "virtualsupply.h"

#include "commandhandler.h"
#include "commandset.h"
#include "devicelink.h"
#include "ptyendpoint.h"
#include "replyscheduler.h"
#include "traceablepattern.h"

namespace {

// Any frame the codec can express: 6 header and CRC bytes plus a payload of
// up to 255 bytes, as hex digits between '#' and the carriage return.
constexpr int MaxRequestChars = 2 + 2 * (CommandSet::HeaderBytes + CommandSet::CrcBytes + 255);

FaultPlan::Rates ratesOf(const VirtualSupplyOptions &options)
{
    FaultPlan::Rates rates;
    rates.drop = options.drop;
    rates.corrupt = options.corrupt;
    rates.split = options.split;
    rates.noise = options.noise;
    rates.late = options.late;
    return rates;
}

}  // namespace

VirtualSupply::VirtualSupply(QObject *parent)
    : VirtualSupply(Options(), parent)
{
}

VirtualSupply::VirtualSupply(const Options &options, QObject *parent)
    : QObject(parent)
    , opts(options)
    , supplyModel(options.seed)
    , faults(ratesOf(options), options.seed)
    , assembler(MaxRequestChars)
    , endpoint(new PtyEndpoint(this))
    , scheduler(new ReplyScheduler(endpoint, this))
{
    supplyModel.setLoadOhms(options.loadByAddress.value(options.address, options.loadOhms));
    makeFurtherModels();
    scheduler->setPaced(options.pace9600);
    modelClock.start();
    connect(endpoint, &PtyEndpoint::received, this, &VirtualSupply::takeBytes);
    connect(scheduler, &ReplyScheduler::replyWritten, this, &VirtualSupply::countReply);
}

VirtualSupply::~VirtualSupply() = default;

bool VirtualSupply::open(QString *error)
{
    return endpoint->open(error);
}

QString VirtualSupply::portPath() const
{
    return endpoint->slavePath();
}

bool VirtualSupply::makeLink(const QString &path, QString *error)
{
    return endpoint->makeLink(path, error);
}

void VirtualSupply::closeMaster()
{
    scheduler->clear();
    assembler.reset();
    endpoint->closeMaster();
}

void VirtualSupply::setOptions(const Options &options)
{
    opts = options;
    makeFurtherModels();
    faults = FaultPlan(ratesOf(options), options.seed);
    scheduler->setPaced(options.pace9600);
}

void VirtualSupply::makeFurtherModels()
{
    for (const quint8 address : opts.moreAddresses) {
        if (address == opts.address || furtherModels.count(address) != 0)
            continue;
        // Each its own noise, so that two supplies never read alike by chance.
        auto model = std::make_unique<SupplyModel>(opts.seed + address + 1);
        model->setLoadOhms(opts.loadByAddress.value(address, opts.loadOhms));
        furtherModels.emplace(address, std::move(model));
    }
}

SupplyModel *VirtualSupply::modelAt(quint8 address)
{
    if (address == opts.address)
        return &supplyModel;
    if (!opts.moreAddresses.contains(address))
        return nullptr;
    const auto found = furtherModels.find(address);
    return found == furtherModels.end() ? nullptr : found->second.get();
}

QList<quint8> VirtualSupply::addresses() const
{
    QList<quint8> list{opts.address};
    for (const quint8 address : opts.moreAddresses) {
        if (!list.contains(address))
            list.append(address);
    }
    return list;
}

void VirtualSupply::queueRawReply(const QList<QByteArray> &pieces, int gapMs)
{
    RawReply raw;
    raw.pieces = gapMs > 0 ? pieces : QList<QByteArray>{pieces.join()};
    raw.gapMs = gapMs;
    rawReplies.append(raw);
}

bool VirtualSupply::isIdle() const
{
    return scheduler->isIdle() && endpoint->pendingBytes() == 0;
}

bool VirtualSupply::isTraceableData(quint8 command, const QByteArray &data)
{
    return TraceablePattern::matches(command, data);
}

void VirtualSupply::takeBytes(const QByteArray &bytes)
{
    for (const QByteArray &line : assembler.feed(bytes))
        handleLine(line);
}

void VirtualSupply::countReply(const QByteArray &text)
{
    ++sent;
    emit replyWritten(text);
}

void VirtualSupply::handleLine(const QByteArray &line)
{
    received.append(line);
    advanceModelClock();
    if (!rawReplies.isEmpty()) {
        const RawReply raw = rawReplies.takeFirst();
        scheduler->schedule(raw.pieces, 0, raw.gapMs);
    } else if (!answer(line)) {
        ++ignored;
    }
    emit lineReceived(line);
}

bool VirtualSupply::answer(const QByteArray &line)
{
    if (opts.silent)
        return false;
    const QByteArray text = replyTo(line);
    if (text.isEmpty())
        return false;
    // Faults are drawn for replies only, so the same requests meet the same
    // faults whatever else arrives on the line.
    const FaultPlan::Decision decision = faults.next();
    const QList<QByteArray> pieces = FaultPlan::shape(decision, text);
    if (pieces.isEmpty())
        return false;
    scheduler->schedule(pieces, decision.delayMs, decision.gapMs);
    return true;
}

QByteArray VirtualSupply::replyTo(const QByteArray &line)
{
    QByteArray request;
    const int n = DeviceLink::DecodeLine(line, request);
    if (n < CommandSet::HeaderBytes + CommandSet::CrcBytes)
        return {};
    if (DeviceLink::CrcOver(request) != 0)
        return {};
    const quint8 address = quint8(request.at(0));
    SupplyModel *model = modelAt(address);
    if (!model || opts.silentAddresses.contains(address))
        return {};

    std::optional<CommandHandler::Answer> reply = CommandHandler::answer(*model, request);
    if (!reply)
        return {};
    if (opts.traceable && reply->isRead)
        reply->data = TraceablePattern::data(reply->command, reply->data.size(), traceSerial++);

    QByteArray bytes;
    bytes.append(char(CommandSet::MasterAddress));
    bytes.append(char(address));
    bytes.append(char(reply->command));
    bytes.append(char(reply->access));
    bytes.append(reply->data);
    return DeviceLink::EncodeFrame(bytes);
}

void VirtualSupply::advanceModelClock()
{
    const qint64 now = modelClock.elapsed();
    supplyModel.advance(now - modelClockMs);
    for (auto &further : furtherModels)
        further.second->advance(now - modelClockMs);
    modelClockMs = now;
}
