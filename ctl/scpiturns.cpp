#include "scpiturns.h"

#include "devicelink.h"
#include "lineschedule.h"

#include <QPointer>

ScpiTurns::ScpiTurns(DeviceLink &line, QObject *parent)
    : QObject(parent)
    , line(line)
    , user(line.Schedule().NewUser())
{
}

// A job of these turns still queued when they go finds them gone: the line
// may go before them.
ScpiTurns::~ScpiTurns() = default;

void ScpiTurns::Add(ScpiTurnTaker *server)
{
    servers.append(server);
}

void ScpiTurns::Remove(ScpiTurnTaker *server)
{
    servers.removeAll(server);
    if (lastServed == server)
        lastServed = nullptr;
}

ScpiTurnTaker *ScpiTurns::NextServer() const
{
    // The first instrument after the one served last that has a message
    // waiting, wrapping around.
    const int last = servers.indexOf(lastServed);
    for (int step = 1; step <= servers.size(); ++step) {
        ScpiTurnTaker *server = servers.at((last + step) % servers.size());
        if (server->HasWaiting())
            return server;
    }
    return nullptr;
}

void ScpiTurns::ScheduleRun()
{
    if (runScheduled || running)
        return;
    runScheduled = true;
    // Taken from the event loop, never inside a socket's signal (see
    // ScpiServer), and after the exchange under way, if any.
    QPointer<ScpiTurns> self(this);
    line.Schedule().SubmitJob(user, [self] {
        if (self)
            self->RunQueue();
    });
    line.RunScheduleSoon();
}

void ScpiTurns::RunQueue()
{
    runScheduled = false;
    if (running)
        return;
    running = true;
    while (ScpiTurnTaker *server = NextServer()) {
        lastServed = server;
        server->RunNextTurn();
    }
    running = false;
}

void ScpiTurns::ServeOthers(ScpiTurnTaker *owner)
{
    if (gapOpen)
        return;
    gapOpen = true;
    // The owner's own clients first, as with one instrument alone, then the
    // other instruments in their order after it. A server that goes away
    // meanwhile is skipped.
    owner->ServeEachWaiting(false);
    const int at = servers.indexOf(owner);
    const QList<ScpiTurnTaker *> order = servers.mid(at + 1) + servers.mid(0, qMax(at, 0));
    for (ScpiTurnTaker *server : order) {
        if (servers.contains(server) && server->HasWaiting())
            server->ServeEachWaiting(true);
    }
    gapOpen = false;
}
