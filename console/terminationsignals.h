#pragma once

#include <QObject>

class QSocketNotifier;

// A request to stop from outside (SIGINT, SIGTERM, SIGHUP and SIGQUIT; on Windows Ctrl+C,
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
    // A write into a closed pipe fails with EPIPE instead of ending the
    // program; for one that must not end because its reader went away.
    static void ignoreBrokenPipe();

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return valid; }

signals:
    // SIGINT, SIGTERM, SIGHUP or SIGQUIT; on Windows, whose C library defines
    // only the first two, SIGINT or SIGTERM.
    void received(int signalNumber);

private slots:
    void readSignal();

private:
    bool valid = false;
    int fd = -1;  // the signalfd on Linux; unused on Windows
    QSocketNotifier *notifier = nullptr;
};
