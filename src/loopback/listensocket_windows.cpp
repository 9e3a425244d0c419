#include "loopback/listensocket.h"

#include <limits>

#include <winsock2.h>

// Winsock sockets: SO_REUSEADDR would let another program take the port over, so it is not set;
// sockets are not inherited unless asked for. Handles are not numbered densely as descriptors
// are, and the system has no per-process limit worth a ceiling.

qintptr openListenSocket(quint16 port, quint16 *bound)
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return kNoSocket;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long nonBlocking = 1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(s, 128) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    *bound = ntohs(address.sin_port);
    return qintptr(s);
}

qintptr acceptConnection(qintptr listener, AcceptFailure *failure)
{
    const SOCKET s = ::accept(SOCKET(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET) {
        *failure = AcceptFailure::None;
        return qintptr(s);
    }
    const int error = WSAGetLastError();
    if (error == WSAEINTR || error == WSAECONNRESET)
        *failure = AcceptFailure::TryAgain;
    else if (error == WSAEWOULDBLOCK)
        *failure = AcceptFailure::NoneWaiting;
    else
        *failure = AcceptFailure::Exhausted;
    return kNoSocket;
}

void closeSocket(qintptr socket)
{
    ::closesocket(SOCKET(socket));
}

qintptr connectionCeiling()
{
    return std::numeric_limits<qintptr>::max();
}
