#pragma once

#include "scpiturntaker.h"

#include <QList>
#include <QObject>

class DeviceLink;

// The turns of the messages of every SCPI instrument on one serial line: one
// message is carried out at a time over all of them, since a step with the
// supply runs the event loop while it waits and two instruments' steps must
// never interleave on the port. Instruments take turns, one message each in
// the order they were added (each instrument's clients take their own turns
// within its), and while a message waits between two tries, every other
// client of every instrument with a message waiting gets one turn, its steps
// tried once, so that a silent supply holds up the others for one try per
// message and no more. The messages are carried out as one user's turns on
// the line's queue, never inside an exchange made for another user of the
// line; each try of a step is a request of that user, and the requests of
// the line's other users that are due go before it.
class ScpiTurns : public QObject
{
    Q_OBJECT

public:
    // line: the link of the serial line the instruments are on.
    explicit ScpiTurns(DeviceLink &line, QObject *parent = nullptr);
    ~ScpiTurns() override;

    void Add(ScpiTurnTaker *server);
    void Remove(ScpiTurnTaker *server);

    // Carries out the waiting messages from the event loop, never inside a
    // socket's signal (see ScpiServer); does nothing while they are being
    // carried out already, as the running call picks up what was queued
    // meanwhile.
    void ScheduleRun();
    // Between two tries of a step of owner's message: the gap described
    // above. Does nothing while a gap is open already.
    void ServeOthers(ScpiTurnTaker *owner);

private:
    void RunQueue();
    // The instrument whose turn is next, nullptr when no message waits.
    ScpiTurnTaker *NextServer() const;

    DeviceLink &line;
    int user = 0;  // on the line's queue
    QList<ScpiTurnTaker *> servers;
    ScpiTurnTaker *lastServed = nullptr;
    bool running = false;
    bool runScheduled = false;
    bool gapOpen = false;
};
