#pragma once

#include "loopback/loopbackserver.h"

#include <QString>

// A loopback server that misbehaves without end: whatever asks gets an answer that never
// completes. It stops writing when the client goes away, and stops for good when destroyed.
class HostileServer
{
public:
    enum Kind {
        EndlessChunkedBody, // a valid head, then 64 KiB chunks for ever, as fast as taken
        EndlessHeaderLine,  // a status line, then one header line that never ends, dripped
    };
    explicit HostileServer(Kind kind);
    bool listening() const { return m_server.port() != 0; }
    QString url(const QString &target) const { return m_server.url(target); }
    QString hostPort() const { return m_server.hostPort(); }
    int connections() const { return m_server.totalRequests(); } // one request each

private:
    LoopbackServer m_server;
};
