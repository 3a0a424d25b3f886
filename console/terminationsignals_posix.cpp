#include "terminationsignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t terminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);
    return set;
}

}  // namespace

bool TerminationSignals::block()
{
    // A shell that starts a program in the background makes it ignore
    // SIGINT and SIGQUIT, and an ignored signal never reaches a signalfd.
    // SIGHUP stays ignored when it was: that is what nohup asks.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGQUIT, SIG_DFL);
    const sigset_t set = terminationSet();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

bool TerminationSignals::unblock()
{
    const sigset_t set = terminationSet();
    return pthread_sigmask(SIG_UNBLOCK, &set, nullptr) == 0;
}

void TerminationSignals::ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    const sigset_t set = terminationSet();
    fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        return;
    valid = true;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
}

TerminationSignals::~TerminationSignals()
{
    delete notifier;
    if (fd >= 0)
        ::close(fd);
}

void TerminationSignals::readSignal()
{
    signalfd_siginfo info;
    while (::read(fd, &info, sizeof info) == ssize_t(sizeof info))
        emit received(int(info.ssi_signo));
}
