#include "ptyendpoint.h"

#include "supplyport.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QVector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A client that stops reading must not make us hoard its replies forever;
// beyond this much a real line would have overrun too.
constexpr int MaxPendingBytes = 64 * 1024;

QString errnoText(const QString &what, int error)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

bool setFlags(int fd)
{
    const int fl = ::fcntl(fd, F_GETFL);
    const int fdfl = ::fcntl(fd, F_GETFD);
    return fl >= 0 && fdfl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0
        && ::fcntl(fd, F_SETFD, fdfl | FD_CLOEXEC) == 0;
}

// Whether a live serial lock names the terminal already: a program that held
// an earlier terminal of that number (its supply gone) may still hold the
// lock, and whoever opens this one would find it "busy". A lock whose writer
// is gone (killed programs leave theirs) is taken over by the next opener;
// skipping those too would spend the skips below on harmless leftovers.
bool lockedByName(const char *name)
{
    QFile lock(SupplyPortLockFile(QString::fromLocal8Bit(name)));
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    bool isNumber = false;
    const qint64 pid = lock.readLine().trimmed().toLongLong(&isNumber);
    const bool writerGone = isNumber && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
    return !writerGone;
}

// Terminals whose number another program's lock names are kept open while
// the next is made (so it gets another number), then let go: at most this
// many.
constexpr int LockedNumbersSkipped = 16;

}  // namespace

PtyEndpoint::PtyEndpoint(QObject *parent)
    : QObject(parent)
{
}

PtyEndpoint::~PtyEndpoint()
{
    closeMaster();
    removeLink();
}

bool PtyEndpoint::open(QString *error)
{
    if (isOpen())
        return true;
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    char name[128] = {};
    int master = -1;
    int slave = -1;
    QVector<int> skipped;
    for (;;) {
        if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
            if (error)
                *error = errnoText(QStringLiteral("openpty"), errno);
            for (int fd : skipped)
                ::close(fd);
            return false;
        }
        if (!lockedByName(name) || skipped.size() >= 2 * LockedNumbersSkipped)
            break;
        skipped << master << slave;
    }
    for (int fd : skipped)
        ::close(fd);
    if (!setFlags(master) || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        if (error)
            *error = errnoText(QStringLiteral("fcntl"), errno);
        ::close(master);
        ::close(slave);
        return false;
    }
    masterFd = master;
    slaveFd = slave;
    slaveName = QString::fromLocal8Bit(name);
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::readMaster);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::flushPending);
    return true;
}

bool PtyEndpoint::makeLink(const QString &path, QString *error)
{
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("the pseudo-terminal is not open");
        return false;
    }
    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        if (!existing.isSymLink()) {
            if (error)
                *error = QStringLiteral("cannot make the link %1: it exists and is not a symbolic link")
                             .arg(path);
            return false;
        }
        if (::unlink(QFile::encodeName(path).constData()) != 0) {
            const int reason = errno;
            if (error)
                *error = errnoText(QStringLiteral("cannot replace the link %1").arg(path), reason);
            return false;
        }
    }
    if (::symlink(QFile::encodeName(slaveName).constData(), QFile::encodeName(path).constData()) != 0) {
        const int reason = errno;
        if (error)
            *error = errnoText(QStringLiteral("cannot make the link %1").arg(path), reason);
        return false;
    }
    removeLink();
    linkPath = path;
    return true;
}

bool PtyEndpoint::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    pending.append(bytes);
    if (pending.size() > MaxPendingBytes)
        pending.remove(0, pending.size() - MaxPendingBytes);
    flushPending();
    return true;
}

void PtyEndpoint::flushPending()
{
    while (isOpen() && !pending.isEmpty()) {
        const ssize_t n = ::write(masterFd, pending.constData(), size_t(pending.size()));
        if (n > 0) {
            pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            pending.clear();  // nobody can receive it any more
        break;
    }
    if (writeNotifier)
        writeNotifier->setEnabled(!pending.isEmpty());
}

void PtyEndpoint::readMaster()
{
    QByteArray bytes;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: drained. EIO or end of file cannot happen while our own slave
        // descriptor is open; should it happen anyway, stop polling a dead end.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            readNotifier->setEnabled(false);
        break;
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}

void PtyEndpoint::closeMaster()
{
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = -1;
    slaveFd = -1;
    pending.clear();
}

void PtyEndpoint::removeLink()
{
    if (!linkPath.isEmpty() && QFileInfo(linkPath).isSymLink())
        QFile::remove(linkPath);
    linkPath.clear();
}
