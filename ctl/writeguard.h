#pragma once

#include "terminationsignals.h"

#include <QObject>
#include <QString>

// Holds SIGINT and SIGTERM off while a write to the supply and its
// confirmation run, so that a write that may have landed is never left
// untold: the command finishes the write, then ends with 128 plus the signal's
// number and says how the supply was left.
class WriteGuard : public QObject
{
    Q_OBJECT

public:
    explicit WriteGuard(QObject *parent = nullptr);

    // The first signal received so far, or 0; takes in any still pending.
    int Received();
    static QString SignalName(int signalNumber);
    // Where the signals arrive, for others that want them too.
    TerminationSignals &Signals() { return termination; }

private slots:
    void Note(int signalNumber);

private:
    TerminationSignals termination;
    int received = 0;
};
