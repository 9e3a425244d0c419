#include "fixtureserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <condition_variable>

// The server's own thread: the QTcpServer and its connections are made in run(), so they belong
// to it and are served by its event loop. This object itself belongs to the owning thread: it is
// never the context of a connection made in run().
class FixtureServer::Thread : public QThread
{
public:
    explicit Thread(FixtureServer *q) : q(q) { setObjectName(QStringLiteral("FixtureServer")); }
    ~Thread() override
    {
        quit();
        wait();
        // ThreadSanitizer does not see wait() (Qt synchronises inside itself); the mutex shows
        // it that everything the thread wrote happened before what follows.
        std::lock_guard lock(q->m_mutex);
    }

    // Starts the thread and returns once it listens (true) or failed to (false).
    bool startListening()
    {
        start();
        std::unique_lock lock(q->m_mutex);
        m_startedCv.wait(lock, [this] { return m_started; });
        return q->m_port != 0;
    }

protected:
    void run() override
    {
        QHash<QTcpSocket *, QByteArray> pending; // request bytes read so far, per connection
        QTcpServer server; // destroyed first: it takes its connections with it
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) { // a child of server
                QObject::connect(socket, &QTcpSocket::readyRead, &server, [this, socket, &pending] {
                    onReadyRead(socket, pending[socket]);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QObject::destroyed, &server,
                                 [socket, &pending] { pending.remove(socket); });
            }
        });
        const bool listening = server.listen(QHostAddress::LocalHost, 0);
        {
            std::lock_guard lock(q->m_mutex);
            q->m_port = listening ? server.serverPort() : 0;
            m_started = true;
            m_startedCv.notify_all(); // under the lock: ThreadSanitizer then sees it end first
        }
        if (listening)
            exec();
    }

private:
    void onReadyRead(QTcpSocket *socket, QByteArray &buffer);
    static void answer(QTcpSocket *socket, const FixtureResponse &response);

    FixtureServer *const q;
    std::condition_variable m_startedCv;
    bool m_started = false; // guarded by q->m_mutex
};

void FixtureServer::Thread::onReadyRead(QTcpSocket *socket, QByteArray &buffer)
{
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray requestLine = buffer.left(buffer.indexOf("\r\n"));
    buffer.clear();
    const QList<QByteArray> parts = requestLine.split(' ');
    const QString target = parts.size() >= 2 ? QString::fromLatin1(parts.at(1)) : QString();
    const FixtureResponse response = q->take(target);
    emit q->requestReceived(target);

    if (response.neverAnswer)
        return;
    if (response.delayMs > 0) // a timer: the other connections are served meanwhile
        QTimer::singleShot(response.delayMs, socket,
                           [socket, response] { answer(socket, response); });
    else
        answer(socket, response);
}

void FixtureServer::Thread::answer(QTcpSocket *socket, const FixtureResponse &response)
{
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason + "\r\n";
    for (const auto &h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (response.closeMidBody) {
        socket->write(response.body.left(response.body.size() / 2));
        socket->disconnectFromHost(); // after the half already queued
        return;
    }
    socket->write(response.body);
    socket->disconnectFromHost();
}

FixtureServer::FixtureServer(QObject *parent) : QObject(parent) {}

FixtureServer::~FixtureServer() = default; // ~Thread stops the thread before anything else goes

bool FixtureServer::listen()
{
    std::lock_guard lock(m_listenMutex);
    if (port() != 0)
        return false; // listening already
    m_thread.reset(); // one that failed to listen
    m_thread = std::make_unique<Thread>(this);
    return m_thread->startListening();
}

quint16 FixtureServer::port() const
{
    std::lock_guard lock(m_mutex);
    return m_port;
}

QString FixtureServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

QString FixtureServer::url(const QString &target) const
{
    return QStringLiteral("http://") + hostPort() + target;
}

void FixtureServer::setResponse(const QString &target, const FixtureResponse &response)
{
    std::lock_guard lock(m_mutex);
    m_responses.insert(target, response);
}

void FixtureServer::setPage(const QString &target, const QByteArray &body, int status)
{
    FixtureResponse r;
    r.status = status;
    r.reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    r.body = body;
    setResponse(target, r);
}

void FixtureServer::clearResponses()
{
    std::lock_guard lock(m_mutex);
    m_responses.clear();
}

QStringList FixtureServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int FixtureServer::requestCount(const QString &target) const
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const QString &r : m_requests) {
        if (r == target || r.section(u'?', 0, 0) == target)
            ++n;
    }
    return n;
}

int FixtureServer::totalRequests() const
{
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

void FixtureServer::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

FixtureResponse FixtureServer::take(const QString &target)
{
    std::lock_guard lock(m_mutex);
    m_requests.append(target);
    if (const auto it = m_responses.constFind(target); it != m_responses.cend())
        return *it;
    if (const auto it = m_responses.constFind(target.section(u'?', 0, 0)); it != m_responses.cend())
        return *it;
    FixtureResponse notFound;
    notFound.status = 404;
    notFound.reason = "Not Found";
    notFound.body = "<html><body>404 not found</body></html>";
    return notFound;
}
