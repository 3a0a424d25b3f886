#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QSerialPort>

#include <map>

class QTcpServer;
class QTcpSocket;
class ScpiInstrument;

// Serves one ScpiInstrument to up to MaxClients TCP clients. Lines end with
// LF (a CR before it is dropped); every complete message goes into one queue
// and is carried out whole, in the order of arrival, and its response goes
// back to its client. Nothing runs while no client asks: no timers.
//
// Memory stays bounded whatever clients send: a line longer than MaxLine is
// dropped with -363, and a client's socket is read only while it has fewer
// than MaxQueuedPerClient messages waiting, the queue holds fewer than
// MaxQueued and the client has read its earlier responses.
//
// When the serial port fails, the server closes it, stops as Stop() does and
// emits PortLost.
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxClients = 4;
    static constexpr int MaxLine = 4096;
    static constexpr int MaxQueuedPerClient = 8;
    static constexpr int MaxQueued = 32;
    static constexpr qint64 MaxUnsent = 64 * 1024;

    ScpiServer(ScpiInstrument &instrument, QSerialPort *port, QObject *parent = nullptr);

    bool Listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 ServerPort() const;
    // Stops listening, closes every connection and drops what waits; a
    // message being carried out is finished.
    void Stop();

signals:
    void PortLost();

private slots:
    void acceptClients();
    void readClient();
    void dropClient();
    void portFailed();

private:
    struct Client {
        QTcpSocket *socket = nullptr;
        QByteArray partial;
        bool skipping = false;  // the rest of an overlong line is dropped
        int queued = 0;
    };
    struct Message {
        quint64 client = 0;
        QByteArray text;
        bool overrun = false;  // stands for a dropped overlong line
    };

    // Moves the client's complete lines into the queue as far as the bounds
    // allow.
    void takeLines(quint64 id);
    void takeAllLines();
    void enqueue(quint64 id, Client &client, const QByteArray &text, bool overrun);
    // Carries out queued messages until none is left. It runs from the event
    // loop, never inside a socket's signal: the supply's wait runs the event
    // loop, and a socket deleted there must not be one whose signal is still
    // being emitted. Scheduling while it runs is not needed: the running call
    // picks up what was queued meanwhile.
    void scheduleRun();
    void runQueue();
    quint64 idOf(QObject *socket) const;

    ScpiInstrument &instrument;
    QSerialPort *port;
    QTcpServer *server;
    std::map<quint64, Client> clients;
    quint64 nextId = 1;
    QQueue<Message> queue;
    bool running = false;
    bool runScheduled = false;
    bool stopped = false;
};
