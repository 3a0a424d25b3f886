#pragma once

#include <QTcpServer>

// Listens for SCPI clients and hands each accepted connection over as its
// bare descriptor, for a ScpiClientSocket to take.
class ScpiListener : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

signals:
    void Accepted(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { emit Accepted(descriptor); }
};
