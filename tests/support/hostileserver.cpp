#include "hostileserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

HostileServer::HostileServer(Kind kind) : m_kind(kind)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(m_fd, 16) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

HostileServer::~HostileServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString HostileServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString HostileServer::url(const QString &target) const
{
    return QStringLiteral("http://") + hostPort() + target;
}

void HostileServer::serve()
{
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++m_connections;
        feed(client); // one client at a time: a fetch holds one connection
        ::close(client);
    }
}

void HostileServer::feed(int client)
{
    // Read the request head (whatever it is), then answer for ever.
    char request[4096];
    pollfd in{client, POLLIN, 0};
    if (::poll(&in, 1, 2000) > 0)
        (void)::recv(client, request, sizeof request, 0);

    const auto send = [client](const QByteArray &bytes) {
        return ::send(client, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) ==
               ssize_t(bytes.size());
    };
    QByteArray chunk;
    if (m_kind == EndlessChunkedBody) {
        if (!send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"))
            return;
        chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
    } else {
        if (!send("HTTP/1.1 200 OK\r\nX-Endless: "))
            return;
        chunk = QByteArray(512, 'a');
    }
    while (!m_stop) {
        pollfd out{client, POLLOUT, 0};
        if (::poll(&out, 1, 50) <= 0)
            continue;
        if (out.revents & (POLLERR | POLLHUP))
            return;
        if (!send(chunk))
            return; // the client went away
        if (m_kind == EndlessHeaderLine)
            ::usleep(5000);
    }
}
