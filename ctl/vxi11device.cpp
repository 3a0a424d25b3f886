#include "vxi11device.h"

#include "scpierrors.h"
#include "scpiinstrument.h"
#include "scpiturns.h"

#include <utility>

namespace {

// Bit 4 of the status byte: an answer waits to be read.
constexpr int MessageAvailableBit = 0x10;

}  // namespace

Vxi11Device::Vxi11Device(ScpiInstrument &instrument, ScpiTurns &turns, QObject *parent)
    : QObject(parent)
    , instrument(instrument)
    , turns(turns)
{
    turns.Add(this);
}

Vxi11Device::~Vxi11Device()
{
    turns.Remove(this);
}

void Vxi11Device::AddLink(quint32 link)
{
    links[link];
}

void Vxi11Device::RemoveLink(quint32 link)
{
    links.erase(link);
    Unlock(link);
}

bool Vxi11Device::HasRoom(quint32 link) const
{
    const auto found = links.find(link);
    return found != links.end() && found->second.jobs.size() < MaxQueuedPerLink;
}

void Vxi11Device::Queue(quint32 link, const QByteArray &message, bool overrun)
{
    const auto found = links.find(link);
    if (found == links.end())
        return;
    Job job;
    job.text = message;
    job.overrun = overrun;
    job.generation = found->second.answerGeneration;
    found->second.jobs.enqueue(job);
    turns.ScheduleRun();
}

void Vxi11Device::QueueStatusByte(quint32 link)
{
    const auto found = links.find(link);
    if (found == links.end())
        return;
    Job job;
    job.statusByte = true;
    job.generation = found->second.statusGeneration;
    found->second.statusByte.reset();
    found->second.jobs.enqueue(job);
    turns.ScheduleRun();
}

QByteArray *Vxi11Device::Answer(quint32 link)
{
    const auto found = links.find(link);
    if (found == links.end() || found->second.answers.isEmpty())
        return nullptr;
    return &found->second.answers.head();
}

void Vxi11Device::AnswerTaken(quint32 link)
{
    const auto found = links.find(link);
    if (found != links.end() && !found->second.answers.isEmpty())
        found->second.answers.dequeue();
}

std::optional<quint8> Vxi11Device::TakeStatusByte(quint32 link)
{
    const auto found = links.find(link);
    if (found == links.end())
        return std::nullopt;
    return std::exchange(found->second.statusByte, std::nullopt);
}

void Vxi11Device::DropComingAnswers(quint32 link)
{
    const auto found = links.find(link);
    if (found != links.end())
        ++found->second.answerGeneration;
}

void Vxi11Device::DropComingStatusByte(quint32 link)
{
    const auto found = links.find(link);
    if (found != links.end())
        ++found->second.statusGeneration;
}

void Vxi11Device::Clear(quint32 link)
{
    const auto found = links.find(link);
    if (found == links.end())
        return;
    Link &entry = found->second;
    entry.jobs.clear();
    entry.answers.clear();
    entry.statusByte.reset();
    ++entry.answerGeneration;
    ++entry.statusGeneration;
}

bool Vxi11Device::Lock(quint32 link)
{
    if (LockedByOther(link))
        return false;
    lockHolder = link;
    return true;
}

bool Vxi11Device::Unlock(quint32 link)
{
    if (lockHolder != link || link == 0)
        return false;
    lockHolder = 0;
    emit LockReleased();
    return true;
}

quint32 Vxi11Device::NextTurn() const
{
    // The first link after the one served last with a message waiting,
    // wrapping around; a link whose message is under way waits for it.
    for (auto it = links.upper_bound(lastServed); it != links.end(); ++it) {
        if (!it->second.jobs.isEmpty() && it->first != serving && it->first != suspended)
            return it->first;
    }
    for (auto it = links.begin(); it != links.end() && it->first <= lastServed; ++it) {
        if (!it->second.jobs.isEmpty() && it->first != serving && it->first != suspended)
            return it->first;
    }
    return 0;
}

bool Vxi11Device::HasWaiting() const
{
    return NextTurn() != 0;
}

void Vxi11Device::RunNextTurn()
{
    const quint32 link = NextTurn();
    if (link == 0)
        return;
    RunOne(link);
    lastServed = link;
}

void Vxi11Device::RunOne(quint32 link)
{
    Job job = links[link].jobs.dequeue();
    const quint32 before = std::exchange(serving, link);
    // Put this device's hook in the instrument's place for this message,
    // and the one before back after it (the raw-socket server's).
    const std::function<void()> previous = instrument.BetweenTries();
    instrument.SetBetweenTries([this] { ServeOthers(); });
    std::optional<QByteArray> response;
    if (job.overrun)
        instrument.QueueError(ScpiError::InputBufferOverrun);
    else
        response = instrument.Execute(job.statusByte ? QByteArray("*STB?") : job.text);
    instrument.SetBetweenTries(previous);
    serving = before;
    // The link may have gone, been cleared or timed out meanwhile.
    const auto found = links.find(link);
    if (found == links.end())
        return;
    Link &entry = found->second;
    if (job.statusByte) {
        if (job.generation == entry.statusGeneration && response) {
            const int status = response->toInt() | (entry.answers.isEmpty() ? 0 : MessageAvailableBit);
            entry.statusByte = quint8(status);
        }
    } else if (job.generation == entry.answerGeneration && response) {
        entry.answers.enqueue(*response + '\n');
    }
    emit Finished(link);
}

void Vxi11Device::ServeOthers()
{
    if (suspended != 0 || serving == 0)
        return;
    turns.ServeOthers(this);
}

void Vxi11Device::ServeEachWaiting(bool forAnotherInstrument)
{
    // As the raw-socket server does: between two tries of a step, each link
    // with a message waiting gets one turn, in order after the one served.
    if (suspended != 0)
        return;
    const quint32 owner = forAnotherInstrument ? 0 : serving;
    const quint32 after = owner != 0 ? owner : lastServed;
    suspended = owner;
    instrument.SetTryingOnce(forAnotherInstrument);
    QList<quint32> order;
    for (auto it = links.upper_bound(after); it != links.end(); ++it)
        order.append(it->first);
    for (auto it = links.begin(); it != links.end() && it->first <= after; ++it) {
        if (it->first != owner)
            order.append(it->first);
    }
    for (const quint32 link : order) {
        const auto found = links.find(link);
        if (found == links.end() || found->second.jobs.isEmpty() || link == serving)
            continue;
        RunOne(link);
    }
    instrument.SetTryingOnce(false);
    suspended = 0;
}
