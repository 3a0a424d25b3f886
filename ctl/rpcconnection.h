#pragma once

#include "oncrpc.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;

// One client's ONC RPC stream over TCP: takes its calls one at a time, in
// order, and sends each reply. A call is answered before the next is taken,
// so a call that waits (a read for its answer, a lock) holds the ones after
// it, as the clients expect.
//
// Bounded whatever the client does: a record longer than MaxRecord closes
// the connection; records that are not calls are dropped; nothing more is
// read while a call waits or while more than MaxUnsent of replies wait for a
// client that does not read them (the rest stays with the system).
class RpcConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRecord = 80 * 1024;
    static constexpr qint64 MaxUnsent = 64 * 1024;

    // Takes the connected socket over as its child.
    explicit RpcConnection(QTcpSocket *socket, QObject *parent = nullptr);

    // Answers the call being served and goes on with the next one.
    void Reply(const QByteArray &reply);
    // Closes at once; Closed follows from the event loop.
    void Abort();

signals:
    // record holds the whole call; answer it with Reply().
    void CallReceived(const RpcCall &call, const QByteArray &record);
    void Closed();

private slots:
    void TakeCalls();

private:
    QTcpSocket *socket;
    RpcRecordReader reader{MaxRecord};
    bool waiting = false;
    bool closed = false;
};
