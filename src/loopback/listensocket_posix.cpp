#include "loopback/listensocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Descriptors the server leaves free for the program it runs in (with --demo, its own
// connections to the site), and for the sanitizers' checks: a client past them is closed at once.
constexpr int kSpareDescriptors = 16;

} // namespace

qintptr openListenSocket(quint16 port, quint16 *bound)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNoSocket;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    *bound = ntohs(address.sin_port);
    return fd;
}

qintptr acceptConnection(qintptr listener, AcceptFailure *failure)
{
    const int fd = ::accept4(int(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        *failure = AcceptFailure::None;
        return fd;
    }
    if (errno == EINTR || errno == ECONNABORTED)
        *failure = AcceptFailure::TryAgain;
    else if (errno == EAGAIN || errno == EWOULDBLOCK)
        *failure = AcceptFailure::NoneWaiting;
    else
        *failure = AcceptFailure::Exhausted;
    return kNoSocket;
}

void closeSocket(qintptr socket)
{
    ::close(int(socket));
}

qintptr connectionCeiling()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return int(limit.rlim_cur) - kSpareDescriptors;
}
