#include "rpcconnection.h"

#include <QTcpSocket>

#include <utility>

RpcConnection::RpcConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , socket(socket)
{
    socket->setParent(this);
    // What the client sends beyond this stays with the system.
    socket->setReadBufferSize(MaxRecord);
    connect(socket, &QTcpSocket::readyRead, this, &RpcConnection::TakeCalls);
    connect(socket, &QTcpSocket::bytesWritten, this, &RpcConnection::TakeCalls);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (!std::exchange(closed, true))
            emit Closed();
    });
}

void RpcConnection::Reply(const QByteArray &reply)
{
    if (closed)
        return;
    waiting = false;
    socket->write(RpcRecordMark(reply));
    QMetaObject::invokeMethod(this, &RpcConnection::TakeCalls, Qt::QueuedConnection);
}

void RpcConnection::Abort()
{
    socket->abort();
    if (!std::exchange(closed, true))
        QMetaObject::invokeMethod(this, &RpcConnection::Closed, Qt::QueuedConnection);
}

void RpcConnection::TakeCalls()
{
    while (!waiting && !closed && socket->bytesToWrite() < MaxUnsent) {
        QByteArray record;
        RpcRecordReader::Result result = reader.Next(&record);
        if (result == RpcRecordReader::Result::NeedMore) {
            if (socket->bytesAvailable() == 0)
                return;
            reader.Append(socket->read(MaxRecord));
            result = reader.Next(&record);
        }
        if (result == RpcRecordReader::Result::TooLong) {
            Abort();
            return;
        }
        if (result == RpcRecordReader::Result::NeedMore)
            continue;
        const std::optional<RpcCall> call = ParseRpcCall(record);
        if (!call)
            continue;
        waiting = true;
        emit CallReceived(*call, record);
    }
}
