#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

// A loopback server that misbehaves without end, on a thread of its own: whatever connects gets
// an answer that never completes. It stops writing when the client goes away, and stops for
// good when destroyed.
class HostileServer
{
public:
    enum Kind {
        EndlessChunkedBody, // a valid head, then 64 KiB chunks for ever, as fast as taken
        EndlessHeaderLine,  // a status line, then one header line that never ends, dripped
    };
    explicit HostileServer(Kind kind);
    ~HostileServer();
    bool listening() const { return m_fd >= 0; }
    QString url(const QString &target) const; // "http://127.0.0.1:PORT" + target
    QString hostPort() const;
    int connections() const { return m_connections.load(); }

private:
    void serve();
    void feed(int client);

    Kind m_kind;
    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};
