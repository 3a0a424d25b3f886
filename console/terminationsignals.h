#pragma once

#include <QObject>

class QSocketNotifier;

// A request to stop from outside (SIGINT and SIGTERM; on Windows Ctrl+C,
// Ctrl+Break and a closed console window) delivered as a Qt signal on the
// event loop, so that the program can shut down in an orderly way (and its
// destructors run) instead of dying in the middle of a write.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // Holds the requests back for the calling thread and the threads it
    // starts later; call it first thing in main.
    static bool block();
    // Gives the requests back their default effect, for a program that
    // decides after start-up that it has nothing to shut down in order.
    static bool unblock();

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return valid; }

signals:
    // SIGINT or SIGTERM, also on Windows, whose C library defines both.
    void received(int signalNumber);

private slots:
    void readSignal();

private:
    bool valid = false;
    int fd = -1;  // the signalfd on Linux; unused on Windows
    QSocketNotifier *notifier = nullptr;
};
