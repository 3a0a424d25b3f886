#include "writeguard.h"

#include <QCoreApplication>

#include <csignal>

WriteGuard::WriteGuard(QObject *parent)
    : QObject(parent)
{
    connect(&termination, &TerminationSignals::received, this, &WriteGuard::Note);
}

int WriteGuard::Received()
{
    QCoreApplication::processEvents();
    return received;
}

void WriteGuard::Note(int signalNumber)
{
    if (received == 0)
        received = signalNumber;
}

QString WriteGuard::SignalName(int signalNumber)
{
    if (signalNumber == SIGINT)
        return QStringLiteral("SIGINT");
    if (signalNumber == SIGTERM)
        return QStringLiteral("SIGTERM");
#ifdef SIGHUP
    if (signalNumber == SIGHUP)
        return QStringLiteral("SIGHUP");
    if (signalNumber == SIGQUIT)
        return QStringLiteral("SIGQUIT");
#endif
    return QStringLiteral("signal %1").arg(signalNumber);
}
