#include "scpisocketio.h"

#include <cerrno>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Keep-alive probes after a minute of silence, every 10 s, 3 unanswered
// ones ending the connection: the system's default waits two hours.
constexpr int KeepAliveIdle = 60;
constexpr int KeepAliveInterval = 10;
constexpr int KeepAliveProbes = 3;

}  // namespace

bool ScpiSocketIo::Prepare(qintptr socket)
{
    const int fd = int(socket);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) < 0)
        return false;
#ifdef TCP_KEEPIDLE
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepAliveIdle, sizeof KeepAliveIdle);
#endif
#ifdef TCP_KEEPINTVL
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepAliveInterval, sizeof KeepAliveInterval);
#endif
#ifdef TCP_KEEPCNT
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepAliveProbes, sizeof KeepAliveProbes);
#endif
    return true;
}

qint64 ScpiSocketIo::Receive(qintptr socket, char *buffer, qint64 size)
{
    for (;;) {
        const ssize_t got = recv(int(socket), buffer, size_t(size), 0);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? WouldBlock : Failed;
    }
}

qint64 ScpiSocketIo::Send(qintptr socket, const char *data, qint64 size)
{
#ifdef MSG_NOSIGNAL
    const int flags = MSG_NOSIGNAL;  // a closed peer is an error, not a signal
#else
    const int flags = 0;
#endif
    for (;;) {
        const ssize_t sent = send(int(socket), data, size_t(size), flags);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? WouldBlock : Failed;
    }
}

void ScpiSocketIo::ShutdownSend(qintptr socket)
{
    shutdown(int(socket), SHUT_WR);
}

void ScpiSocketIo::Close(qintptr socket)
{
    close(int(socket));
}
