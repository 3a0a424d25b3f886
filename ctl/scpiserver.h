#pragma once

#include "scpiturntaker.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QSerialPort>

#include <map>

class ScpiClientSocket;
class ScpiInstrument;
class ScpiListener;
class ScpiTurns;
class QTimer;

// Serves one ScpiInstrument to up to MaxClients TCP clients. Lines end with
// LF (a CR before it is dropped); every complete message is carried out whole
// and its response goes back to its client. Clients take turns: one message
// of each client that has one waiting, in the order they connected. Nothing
// runs while no client asks: no timers but the optional idle ones.
//
// A client that shuts down its sending side still gets the responses to all
// it sent, its last line taken whole even without its line end; then the
// server closes. A client refused because every slot is taken is told so in
// one line before the close, however many come.
//
// While a step with the supply waits to try again, the other clients'
// messages take their turns (see ScpiInstrument::SetBetweenTries). Servers
// of several instruments on one serial line share one ScpiTurns, so that
// their messages take turns on the line too.
//
// Memory stays bounded whatever clients send: a line longer than MaxLine
// (its line end not counted) is dropped with -363, and a client's socket is
// read only while it has fewer than MaxQueuedPerClient messages waiting, all
// clients together fewer than MaxQueued, and it has read its earlier
// responses.
//
// When the serial port fails, the server closes it, stops as Stop() does and
// emits PortLost.
class ScpiServer : public QObject, public ScpiTurnTaker
{
    Q_OBJECT

public:
    static constexpr int MaxClients = 4;
    static constexpr int MaxLine = 4096;
    static constexpr int MaxQueuedPerClient = 8;
    static constexpr int MaxQueued = 32;
    static constexpr qint64 MaxUnsent = 64 * 1024;
    // The line a refused client reads before the close.
    static constexpr char BusyLine[] = "busy: all 4 SCPI connections are in use, try again later\n";
    // At most this many refused connections wait for their client's close
    // at a time; in a flood the rest are told and closed at once, so that
    // refusals hold few descriptors.
    static constexpr int MaxRefusing = 64;

    // turns: those of every instrument on the port; nullptr for an
    // instrument alone on it.
    ScpiServer(ScpiInstrument &instrument, QSerialPort *port, ScpiTurns *turns = nullptr,
               QObject *parent = nullptr);
    ~ScpiServer() override;

    // Closes a client that sent nothing for this many seconds and has
    // nothing waiting; 0 (the default) never does.
    void SetIdleTimeout(int seconds);
    bool Listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 ServerPort() const;
    // Clients connected now (one whose responses are still being sent after
    // it said all it will no longer counts).
    int Connected() const;
    // Stops listening, closes every connection and drops what waits; a
    // message being carried out is finished.
    void Stop();

    // For the turns: a message waits; carries out the message of the client
    // whose turn is next; carries out one message of each client that has
    // one waiting (after the client being served, when it is this server's
    // message that waits between tries), their steps tried once when
    // another instrument's message waits.
    bool HasWaiting() const override { return !stopped && NextTurn() != 0; }
    void RunNextTurn() override;
    void ServeEachWaiting(bool forAnotherInstrument) override;

signals:
    void PortLost();
    // A client connected or went: connected are connected now.
    void ClientsChanged(int connected);

private slots:
    void AcceptClient(qintptr descriptor);
    // Input arrived: the client is not idle.
    void ReadClient();
    // Input arrived or output left: takes what the bounds now let in.
    void ResumeClient();
    void DropClient();
    void PortFailed();

private:
    struct Message {
        QByteArray text;
        bool overrun = false;  // stands for a dropped overlong line
    };
    struct Client {
        // Null once the connection is gone; the client stays while messages
        // that came whole before are still to be carried out.
        ScpiClientSocket *socket = nullptr;
        QTimer *idle = nullptr;
        QByteArray partial;
        bool skipping = false;  // the rest of an overlong line is dropped
        QQueue<Message> waiting;
    };

    // Moves the client's complete lines into its queue as far as the bounds
    // allow.
    void TakeLines(quint64 id);
    void TakeAllLines();
    void Enqueue(Client &client, const QByteArray &text, bool overrun);
    // Lets a client go whose input has ended and whose every message is
    // answered, or which is gone and has nothing left to carry out.
    void ReleaseIfDone(quint64 id);
    void CloseIdle(quint64 id);
    void FinishSocket(ScpiClientSocket *socket);
    // Tells a client that found every slot taken why, and lets it go.
    void Refuse(qintptr descriptor);
    // Emits ClientsChanged when the number connected is not the one told last.
    void TellClients();
    // The client whose turn is next, 0 when no message waits.
    quint64 NextTurn() const;
    // Has the turns carry out what is queued. They run it from the event
    // loop, never inside a socket's signal: the supply's wait runs the event
    // loop, and a socket deleted there must not be one whose signal is still
    // being emitted.
    void ScheduleRun();
    // Carries out the client's next message and sends its response.
    void RunOne(quint64 id);
    void ServeOthers();
    quint64 IdOf(QObject *socket) const;
    // A message of the client is being carried out, or waits between tries.
    bool IsServing(quint64 id) const;

    ScpiInstrument &instrument;
    QSerialPort *port;
    ScpiListener *server;
    ScpiTurns *turns;
    std::map<quint64, Client> clients;
    quint64 nextId = 1;
    quint64 lastServed = 0;
    quint64 serving = 0;  // the client whose message is being carried out
    // The client whose message waits between two tries while others are
    // served; 0 when none does.
    quint64 suspended = 0;
    int queued = 0;
    int idleSeconds = 0;
    bool stopped = false;
    int toldClients = 0;
    int refusing = 0;  // refused connections not closed yet
};
