#include "scpisocketio.h"

#include <winsock2.h>
#include <mstcpip.h>

namespace {

// Keep-alive probes after a minute of silence, every 10 s, as elsewhere: the
// system's default waits two hours. Windows gives up after ten probes.
constexpr u_long KeepAliveIdleMs = 60000;
constexpr u_long KeepAliveIntervalMs = 10000;

}  // namespace

bool ScpiSocketIo::Prepare(qintptr socket)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(SOCKET(socket), FIONBIO, &nonBlocking) != 0)
        return false;
    const BOOL on = TRUE;
    if (setsockopt(SOCKET(socket), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on)
        != 0)
        return false;
    tcp_keepalive timing{1, KeepAliveIdleMs, KeepAliveIntervalMs};
    DWORD returned = 0;
    return WSAIoctl(SOCKET(socket), SIO_KEEPALIVE_VALS, &timing, sizeof timing, nullptr, 0, &returned, nullptr,
                    nullptr)
           == 0;
}

qint64 ScpiSocketIo::Receive(qintptr socket, char *buffer, qint64 size)
{
    const int got = recv(SOCKET(socket), buffer, int(qMin<qint64>(size, 1 << 30)), 0);
    if (got >= 0)
        return got;
    return WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : Failed;
}

qint64 ScpiSocketIo::Send(qintptr socket, const char *data, qint64 size)
{
    const int sent = send(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (sent >= 0)
        return sent;
    return WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : Failed;
}

void ScpiSocketIo::ShutdownSend(qintptr socket)
{
    shutdown(SOCKET(socket), SD_SEND);
}

void ScpiSocketIo::Close(qintptr socket)
{
    closesocket(SOCKET(socket));
}
