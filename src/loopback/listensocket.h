#pragma once

#include <QtGlobal>

// The loopback server's listening socket, its own rather than a QTcpServer's: when accept fails
// for want of descriptors, QTcpServer keeps the socket's notifier on and the loop spins. Sockets
// are non-blocking and not inherited by child processes.

constexpr qintptr kNoSocket = -1;

// Listens on 127.0.0.1:port (0: any free port): the socket and in *bound its port, or kNoSocket.
qintptr openListenSocket(quint16 port, quint16 *bound);

enum class AcceptFailure {
    None,
    TryAgain, // interrupted, or the client gave up before it was accepted
    NoneWaiting,
    Exhausted, // out of descriptors or memory
};

// The next waiting connection, or kNoSocket and the reason in *failure.
qintptr acceptConnection(qintptr listener, AcceptFailure *failure);

void closeSocket(qintptr socket);

// Connections at or past this descriptor are turned away at once: the rest are left for the
// program the server runs in (with --demo, its own connections to the site) and the sanitizers.
qintptr connectionCeiling();
