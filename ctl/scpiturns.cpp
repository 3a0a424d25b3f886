#include "scpiturns.h"

#include "scpiserver.h"

ScpiTurns::ScpiTurns(QObject *parent)
    : QObject(parent)
{
}

void ScpiTurns::Add(ScpiServer *server)
{
    servers.append(server);
}

void ScpiTurns::Remove(ScpiServer *server)
{
    servers.removeAll(server);
    if (lastServed == server)
        lastServed = nullptr;
}

ScpiServer *ScpiTurns::NextServer() const
{
    // The first instrument after the one served last that has a message
    // waiting, wrapping around.
    const int last = servers.indexOf(lastServed);
    for (int step = 1; step <= servers.size(); ++step) {
        ScpiServer *server = servers.at((last + step) % servers.size());
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
    QMetaObject::invokeMethod(this, &ScpiTurns::RunQueue, Qt::QueuedConnection);
}

void ScpiTurns::RunQueue()
{
    runScheduled = false;
    if (running)
        return;
    running = true;
    while (ScpiServer *server = NextServer()) {
        lastServed = server;
        server->RunNextTurn();
    }
    running = false;
}

void ScpiTurns::ServeOthers(ScpiServer *owner)
{
    if (gapOpen)
        return;
    gapOpen = true;
    // The owner's own clients first, as with one instrument alone, then the
    // other instruments in their order after it. A server that goes away
    // meanwhile is skipped.
    owner->ServeEachWaiting(false);
    const int at = servers.indexOf(owner);
    const QList<ScpiServer *> order = servers.mid(at + 1) + servers.mid(0, qMax(at, 0));
    for (ScpiServer *server : order) {
        if (servers.contains(server) && server->HasWaiting())
            server->ServeEachWaiting(true);
    }
    gapOpen = false;
}
