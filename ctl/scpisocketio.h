#pragma once

#include <QtGlobal>

// The few calls on a connected TCP socket's descriptor that the SCPI server
// needs and the toolkit's socket class does not give: telling the end of a
// client's input (it shut down its sending side) from a closed connection,
// and shutting down the server's sending side. One implementation per
// platform.
namespace ScpiSocketIo {

constexpr qint64 WouldBlock = -1;
constexpr qint64 Failed = -2;

// Makes the socket non-blocking and turns on keep-alive probes, so that a
// peer that vanished without a word is found out; false when it cannot be
// set up.
bool Prepare(qintptr socket);
// Bytes read (more than 0), 0 at the end of the peer's input, WouldBlock or
// Failed (reset or any other error).
qint64 Receive(qintptr socket, char *buffer, qint64 size);
// Bytes sent (possibly fewer than given), WouldBlock or Failed.
qint64 Send(qintptr socket, const char *data, qint64 size);
void ShutdownSend(qintptr socket);
void Close(qintptr socket);

}  // namespace ScpiSocketIo
