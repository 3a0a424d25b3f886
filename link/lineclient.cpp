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
    ++attachment;
    socket = new QLocalSocket(this);
    socket->connectToServer(name);
    if (!socket->waitForConnected(timeoutMs)) {
        delete socket;
        socket = nullptr;
        return false;
    }
    connect(socket, &QLocalSocket::readyRead, this, &LineClient::ReadOwner);
    connect(socket, &QLocalSocket::disconnected, this, [this] {
        outcomes.clear();
        emit detached();
    });
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
        if (message.type == LineMessage::Type::Outcome) {
            outcomes[message.serial] = message.outcome;
        } else if (message.type == LineMessage::Type::Members) {
            members = message.members;
            membersKnown = true;
            emit membersChanged();
        }
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
    if (!IsAttached())
        return LinkResult::NoReply;
    LineMessage message;
    message.type = LineMessage::Type::Request;
    message.serial = ++nextSerial;
    message.request = request;
    socket->write(EncodeLineMessage(message));
    socket->flush();

    const quint32 serial = message.serial;
    // A takeover while waiting attaches a new socket that never got the
    // request: its answer can only have come on this one.
    const quint64 sentOn = attachment;
    QElapsedTimer waited;
    waited.start();
    // Wakes the last pass should nothing else arrive.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(ExchangeBoundMs + 1);
    // The owner's outcome comes through the event loop, as the port's bytes
    // do for the owner: the program's own events go on meanwhile.
    while (outcomes.find(serial) == outcomes.end() && attachment == sentOn && IsAttached()
           && waited.elapsed() <= ExchangeBoundMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto found = outcomes.find(serial);
    if (found == outcomes.end())
        return LinkResult::NoReply;
    const LineOutcome outcome = found->second;
    // Outcomes of requests given up earlier are of no use any more.
    outcomes.erase(outcomes.begin(), std::next(found));
    if (reply)
        *reply = outcome.reply;
    return outcome.result;
}
