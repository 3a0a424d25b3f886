#include "terminationsignals.h"

#include <QAtomicPointer>
#include <QMetaObject>

#include <csignal>
#include <windows.h>

namespace {

// The console calls its control handler on a thread of its own, with no
// context: the request is kept here and the one live instance is woken on
// its own thread to take it. A request that comes between block() and the
// instance's creation waits here too instead of ending the program.
QAtomicPointer<TerminationSignals> listener;
QAtomicInt pendingSignal(0);

BOOL WINAPI onConsoleControl(DWORD event)
{
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT:
        signalNumber = SIGINT;
        break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signalNumber = SIGTERM;
        break;
    default:
        return FALSE;
    }
    pendingSignal.storeRelease(signalNumber);
    TerminationSignals *target = listener.loadAcquire();
    if (target)
        QMetaObject::invokeMethod(target, "readSignal", Qt::QueuedConnection);
    // A closed console window ends the process as soon as this returns: wait
    // a while for the program to shut down in order (its instance goes away).
    if (target && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        for (int waited = 0; waited < 4000 && listener.loadAcquire() == target; waited += 50)
            Sleep(50);
    }
    return TRUE;
}

}  // namespace

bool TerminationSignals::block()
{
    return SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

bool TerminationSignals::unblock()
{
    return SetConsoleCtrlHandler(onConsoleControl, FALSE) != 0;
}

void TerminationSignals::ignoreBrokenPipe()
{
    // Windows has no SIGPIPE: a write into a closed pipe fails already.
}

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    valid = SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
    if (!valid)
        return;
    listener.storeRelease(this);
    // A request that came before this object existed is delivered now.
    if (pendingSignal.loadAcquire() != 0)
        QMetaObject::invokeMethod(this, "readSignal", Qt::QueuedConnection);
}

TerminationSignals::~TerminationSignals()
{
    listener.testAndSetRelease(this, nullptr);
}

void TerminationSignals::readSignal()
{
    const int signalNumber = pendingSignal.fetchAndStoreAcquire(0);
    if (signalNumber != 0)
        emit received(signalNumber);
}
