#include "scpiclientsocket.h"

#include "scpisocketio.h"

#include <QSocketNotifier>
#include <QTimer>

ScpiClientSocket::ScpiClientSocket(qintptr descriptor, QObject *parent)
    : QObject(parent)
    , descriptor(descriptor)
{
    if (!ScpiSocketIo::Prepare(descriptor)) {
        ScpiSocketIo::Close(descriptor);
        QTimer::singleShot(0, this, &ScpiClientSocket::Closed);
        return;
    }
    notifierRead = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    notifierWrite = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
    notifierWrite->setEnabled(false);
    connect(notifierRead, &QSocketNotifier::activated, this, &ScpiClientSocket::Readable);
    connect(notifierWrite, &QSocketNotifier::activated, this, &ScpiClientSocket::Writable);
}

ScpiClientSocket::~ScpiClientSocket()
{
    if (IsOpen())
        ScpiSocketIo::Close(descriptor);
}

void ScpiClientSocket::SetReading(bool on)
{
    reading = on;
    UpdateReading();
}

void ScpiClientSocket::UpdateReading()
{
    // The notifier reports as long as input waits: it is on only while the
    // input is taken.
    if (IsOpen())
        notifierRead->setEnabled(!inputEnded && (finishing || (reading && inbox.size() < InboxLimit)));
}

void ScpiClientSocket::Readable()
{
    char chunk[4096];
    while (IsOpen() && !inputEnded && (finishing || inbox.size() < InboxLimit)) {
        const qint64 room = finishing ? qint64(sizeof chunk)
                                      : qMin<qint64>(sizeof chunk, InboxLimit - inbox.size());
        const qint64 got = ScpiSocketIo::Receive(descriptor, chunk, room);
        if (got == ScpiSocketIo::WouldBlock)
            break;
        if (got == ScpiSocketIo::Failed) {
            CloseNow();
            return;
        }
        if (got == 0)
            inputEnded = true;
        else if (!finishing)
            inbox.append(chunk, int(got));
    }
    UpdateReading();
    if (finishing) {
        if (inputEnded && outbox.isEmpty())
            CloseNow();
        return;
    }
    emit ReadyRead();
}

void ScpiClientSocket::Write(const QByteArray &data)
{
    if (!IsOpen() || sendShut)
        return;
    outbox += data;
    Flush();
}

void ScpiClientSocket::Flush()
{
    while (IsOpen() && !outbox.isEmpty()) {
        const qint64 sent = ScpiSocketIo::Send(descriptor, outbox.constData(), outbox.size());
        if (sent == ScpiSocketIo::WouldBlock)
            break;
        if (sent == ScpiSocketIo::Failed) {
            CloseNow();
            return;
        }
        outbox.remove(0, int(sent));
    }
    if (!IsOpen())
        return;
    notifierWrite->setEnabled(!outbox.isEmpty());
    if (finishing && outbox.isEmpty() && !sendShut) {
        sendShut = true;
        ScpiSocketIo::ShutdownSend(descriptor);
        if (inputEnded)
            CloseNow();
    }
}

void ScpiClientSocket::Writable()
{
    const qint64 before = outbox.size();
    Flush();
    if (IsOpen() && outbox.size() < before)
        emit BytesWritten();
}

void ScpiClientSocket::Finish()
{
    if (!IsOpen() || finishing)
        return;
    finishing = true;
    inbox.clear();
    linger = new QTimer(this);
    linger->setSingleShot(true);
    connect(linger, &QTimer::timeout, this, &ScpiClientSocket::CloseNow);
    linger->start(LingerMs);
    UpdateReading();
    Flush();
}

void ScpiClientSocket::Abort()
{
    CloseNow();
}

void ScpiClientSocket::CloseNow()
{
    if (!IsOpen())
        return;
    // The notifiers go before the descriptor, whose number the system may
    // give to the next connection.
    // Deleted later: this may run inside the notifier's own signal.
    notifierRead->setEnabled(false);
    notifierWrite->setEnabled(false);
    notifierRead->deleteLater();
    notifierWrite->deleteLater();
    notifierRead = nullptr;
    notifierWrite = nullptr;
    if (linger)
        linger->stop();
    ScpiSocketIo::Close(descriptor);
    QTimer::singleShot(0, this, &ScpiClientSocket::Closed);
}
