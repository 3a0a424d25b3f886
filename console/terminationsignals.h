#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM delivered as a Qt signal on the event loop, through a
// signalfd, so that the program can shut down in an orderly way (and its
// destructors run) instead of dying in the middle of a write.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // Blocks the two signals for the calling thread and the threads it
    // starts later; call it first thing in main.
    static bool block();
    // Gives the two signals back their default effect, for a program that
    // decides after start-up that it has nothing to shut down in order.
    static bool unblock();

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return fd >= 0; }

signals:
    void received(int signalNumber);

private slots:
    void readSignal();

private:
    int fd = -1;
    QSocketNotifier *notifier = nullptr;
};
