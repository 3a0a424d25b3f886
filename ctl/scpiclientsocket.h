#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTimer;

// One SCPI client's TCP connection, on its descriptor. Unlike the toolkit's
// socket it tells the end of the client's input (a half-close: the client
// shut down its sending side and still reads) from a closed connection, so
// that such a client still gets every response.
//
// Reads only while reading is wanted and less than InboxLimit waits in the
// inbox: the rest stays with the system, which slows the client down.
class ScpiClientSocket : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 InboxLimit = 16 * 1024;
    // How long Finish() waits for the output to go and the client to close.
    static constexpr int LingerMs = 2000;

    // Takes over a connected descriptor; closes it at once if it cannot be
    // set up (Closed follows).
    explicit ScpiClientSocket(qintptr descriptor, QObject *parent = nullptr);
    ~ScpiClientSocket() override;

    // What arrived and was not taken yet; the taker removes what it takes.
    QByteArray &Inbox() { return inbox; }
    // The client will send nothing more.
    bool InputEnded() const { return inputEnded; }
    bool IsOpen() const { return notifierRead != nullptr; }
    void SetReading(bool on);

    void Write(const QByteArray &data);
    qint64 BytesToWrite() const { return outbox.size(); }
    // Sends what is written, ends the sending side, drops whatever still
    // comes, and closes when the client closes or after LingerMs. A close
    // with unread input would reset the connection and could destroy the
    // last response before the client read it.
    void Finish();
    // Closes at once.
    void Abort();

signals:
    // More in the inbox, or the end of the input.
    void ReadyRead();
    void BytesWritten();
    // The descriptor is closed: finished, failed or aborted. Always emitted
    // from the event loop, never inside a call on this object.
    void Closed();

private slots:
    void Readable();
    void Writable();

private:
    void UpdateReading();
    void Flush();
    void CloseNow();

    qintptr descriptor;
    QSocketNotifier *notifierRead = nullptr;
    QSocketNotifier *notifierWrite = nullptr;
    QTimer *linger = nullptr;
    QByteArray inbox;
    QByteArray outbox;
    bool reading = true;
    bool inputEnded = false;
    bool finishing = false;
    bool sendShut = false;
};
