#include "lineclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTimer>

#include <iterator>

LineClient::LineClient(QObject *parent)
    : QObject(parent)
{
}

LineClient::~LineClient()
{
    Detach();
}

bool LineClient::Attach(const QString &name, const LineMember &me, int timeoutMs)
{
    Detach();
    ++attachments;
    socket = new QLocalSocket(this);
    socket->connectToServer(name);
    if (!socket->waitForConnected(timeoutMs)) {
        delete socket;
        socket = nullptr;
        return false;
    }
    connect(socket, &QLocalSocket::readyRead, this, &LineClient::ReadOwner);
    // Queued: the owner going is noticed from the event loop, never in the
    // middle of a write to it.
    connect(socket, &QLocalSocket::disconnected, this, [this, attachment = attachments] {
        if (attachment != attachments)
            return;  // told after this program had let that owner go
        outcomes.clear();
        emit detached();
    }, Qt::QueuedConnection);
    LineMessage hello;
    hello.type = LineMessage::Type::Hello;
    hello.member = me;
    socket->write(EncodeLineMessage(hello));
    socket->flush();
    return true;
}

void LineClient::Detach()
{
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
    buffer.clear();
    outcomes.clear();
    members.clear();
    membersKnown = false;
    ownerSilent = false;
}

bool LineClient::IsAttached() const
{
    return socket && socket->state() == QLocalSocket::ConnectedState;
}

void LineClient::Tell(const LineMember &me)
{
    if (!IsAttached())
        return;
    LineMessage doing;
    doing.type = LineMessage::Type::Doing;
    doing.member = me;
    socket->write(EncodeLineMessage(doing));
    socket->flush();
}

void LineClient::ReadOwner()
{
    buffer.append(socket->readAll());
    for (;;) {
        LineMessage message;
        const LineMessageTaken taken = TakeLineMessage(buffer, message);
        if (taken == LineMessageTaken::Partial)
            return;
        if (taken == LineMessageTaken::Malformed) {
            // An owner out of step is no owner to rely on.
            socket->abort();
            return;
        }
        ++heard;
        ownerSilent = false;
        if (message.type == LineMessage::Type::Outcome) {
            outcomes[message.serial] = message.outcome;
        } else if (message.type == LineMessage::Type::Members) {
            members = message.members;
            membersKnown = true;
            emit membersChanged();
        } else if (message.type == LineMessage::Type::Heard) {
            emit heardOnLine(message.heard);
        }
        if (!socket)
            return;  // let go by whoever was told
    }
}

bool LineClient::WaitForMembers(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!membersKnown && IsAttached() && waited.elapsed() < timeoutMs)
        socket->waitForReadyRead(int(qMax<qint64>(timeoutMs - waited.elapsed(), 1)));
    return membersKnown;
}

LinkResult LineClient::Exchange(const LineRequest &request, QByteArray *reply)
{
    notAsked = false;
    if (!IsAttached())
        return LinkResult::NoReply;
    LineMessage message;
    message.type = LineMessage::Type::Request;
    message.serial = ++nextSerial;
    message.request = request;
    // An owner that let the last request pass unanswered is only probed: a
    // command then fails in seconds, not minutes, and an owner that comes
    // back says it was too late for this one and takes the next.
    const int boundMs = ownerSilent ? SilentOwnerWaitMs : ExchangeBoundMs;
    message.answerByMs = LineClockMs() + boundMs;
    socket->write(EncodeLineMessage(message));
    socket->flush();

    const quint32 serial = message.serial;
    const quint64 heardBefore = heard;
    // Should the owner go meanwhile, the line may be attached to another
    // one before this returns: that one never got the request.
    const quint64 sentOn = attachments;
    QElapsedTimer waited;
    waited.start();
    // Wakes the last pass should nothing else arrive; re-armed each pass, as
    // a coarse timer may fire a little early.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    // The owner's outcome comes through the event loop, as the port's bytes
    // do for the owner: the program's own events go on meanwhile.
    while (outcomes.find(serial) == outcomes.end() && IsAttached() && attachments == sentOn) {
        const qint64 left = boundMs - waited.elapsed();
        if (left < 0)
            break;
        deadline.start(int(left) + 1);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const auto found = outcomes.find(serial);
    if (attachments != sentOn || found == outcomes.end()) {
        ownerSilent = attachments == sentOn && IsAttached() && heard == heardBefore;
        return LinkResult::NoReply;
    }
    ownerSilent = false;
    const LineOutcome outcome = found->second;
    // Outcomes of requests given up earlier are of no use any more.
    outcomes.erase(outcomes.begin(), std::next(found));
    if (reply)
        *reply = outcome.reply;
    notAsked = outcome.notAsked;
    return outcome.result;
}
