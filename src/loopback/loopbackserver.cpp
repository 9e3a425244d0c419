#include "loopback/loopbackserver.h"

#include "loopback/listensocket.h"

#include <QHash>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <mutex>

namespace {

// Answers not yet taken by a client: past this, further pipelined requests wait until it reads.
constexpr qint64 kMaxUnsentBytes = 256 * 1024;
// Kept from the client's bytes at once (the socket's own buffer; the kernel holds the rest).
constexpr qint64 kReadBufferBytes = kMaxRequestHead + 4;
// After a failed accept (no descriptor left), the server waits this long before it accepts again.
constexpr int kAcceptRetryMs = 200;
QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

LoopbackResponse plainStatus(int status)
{
    LoopbackResponse r;
    r.status = status;
    r.headers = {{"Content-Type", "text/plain"}};
    r.close = true;
    return r;
}

bool isBrowser(const QByteArray &userAgent)
{
    return userAgent.contains("Mozilla") && userAgent.contains("AppleWebKit");
}

} // namespace

// The server's shared state.
struct LoopbackServer::Impl
{
    class Thread;
    struct Serving;

    explicit Impl(LoopbackServer *q, Handler handler) : q(q), handler(std::move(handler)) {}

    LoopbackServer *const q;
    const Handler handler;

    mutable std::mutex mutex; // guards the five below
    quint16 port = 0;         // 0 while not listening
    Limits limits;
    bool recording = false;
    QStringList requests;
    QList<QByteArray> userAgents;

    std::mutex startMutex; // guards thread
    std::unique_ptr<Thread> thread;
};

// The listening socket and the connections, made and served on the server's thread.
struct LoopbackServer::Impl::Serving
{
    Serving(Impl *server, const Limits &limits) : server(server), limits(limits) {}

    struct Connection
    {
        QByteArray buffer;      // request bytes read so far
        qsizetype pos = 0;      // where the next request starts in buffer
        bool busy = false;      // an answer is held back, or never ends
        bool closing = false;   // the last answer is out; whatever follows is ignored
        QTimer *idle = nullptr; // no complete request and no progress for limits.idleTimeoutMs
    };

    ~Serving()
    {
        notifier.reset();
        if (listenFd != kNoSocket)
            closeSocket(listenFd);
    }

    Impl *const server;
    const Limits limits;
    QHash<QTcpSocket *, Connection> connections;
    // The listening socket is our own rather than a QTcpServer's: when accept fails for want of
    // descriptors, QTcpServer keeps the socket's notifier on and the loop spins.
    qintptr listenFd = kNoSocket;
    qintptr ceiling = connectionCeiling();
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer acceptRetry;
    QObject context; // the connections' parent: destroyed first, with them still open

    // Listens on 127.0.0.1:port (0: any free port); the port listened on, or 0.
    quint16 listen(quint16 port);
    void acceptPending();
    void onNewConnection(QTcpSocket *socket);
    // Answers the complete requests that have arrived on the connection, one after another, as
    // long as the client takes the answers.
    void serve(QTcpSocket *socket);
    // Sends the answer; false when it never completes (nothing more is served on the connection).
    bool respond(QTcpSocket *socket, const LoopbackResponse &response, bool withBody,
                 bool keepOpen);
    static void startIdle(const Connection &c)
    {
        if (c.idle)
            c.idle->start();
    }
};

// The server's own thread. This object belongs to the owning thread; what run() makes belongs
// to the server's thread.
class LoopbackServer::Impl::Thread : public QThread
{
public:
    Thread(Impl *server, quint16 port) : server(server), m_port(port)
    {
        setObjectName(QStringLiteral("LoopbackServer"));
    }
    ~Thread() override
    {
        quit();
        wait();
        // ThreadSanitizer does not see wait() (Qt synchronises inside itself); the mutex shows
        // it that everything the thread wrote happened before what follows.
        std::lock_guard lock(server->mutex);
        server->port = 0;
    }

    // Starts the thread and returns once the server listens (true) or failed to (false).
    bool startListening()
    {
        start();
        std::unique_lock lock(server->mutex);
        m_startedCv.wait(lock, [this] { return m_started; });
        return server->port != 0;
    }

protected:
    void run() override
    {
        Limits limits;
        {
            std::lock_guard lock(server->mutex);
            limits = server->limits;
        }
        Serving serving(server, limits);
        const quint16 port = serving.listen(m_port);
        {
            std::lock_guard lock(server->mutex);
            server->port = port;
            m_started = true;
            m_startedCv.notify_all(); // under the lock: ThreadSanitizer then sees it end first
        }
        if (port != 0)
            exec();
    }

private:
    Impl *const server;
    const quint16 m_port;
    std::condition_variable m_startedCv;
    bool m_started = false; // guarded by server->mutex
};

LoopbackServer::LoopbackServer(Handler handler, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(this, std::move(handler)))
{
}

LoopbackServer::~LoopbackServer()
{
    close();
}

void LoopbackServer::setLimits(const Limits &limits)
{
    std::lock_guard lock(d->mutex);
    d->limits = limits;
}

void LoopbackServer::setRecording(bool on)
{
    std::lock_guard lock(d->mutex);
    d->recording = on;
}

bool LoopbackServer::listen(quint16 port)
{
    std::lock_guard lock(d->startMutex);
    if (this->port() != 0)
        return false;  // listening already
    d->thread.reset(); // one that failed to listen
    d->thread = std::make_unique<Impl::Thread>(d.get(), port);
    return d->thread->startListening();
}

void LoopbackServer::close()
{
    std::lock_guard lock(d->startMutex);
    d->thread.reset();
}

quint16 LoopbackServer::port() const
{
    std::lock_guard lock(d->mutex);
    return d->port;
}

QString LoopbackServer::hostPort() const
{
    const quint16 p = port();
    return p ? QStringLiteral("127.0.0.1:%1").arg(p) : QString();
}

QString LoopbackServer::url(const QString &target) const
{
    return QStringLiteral("http://") + hostPort() + target;
}

QStringList LoopbackServer::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

QList<QByteArray> LoopbackServer::userAgents() const
{
    std::lock_guard lock(d->mutex);
    return d->userAgents;
}

int LoopbackServer::requestCount(const QString &target) const
{
    std::lock_guard lock(d->mutex);
    int n = 0;
    for (const QString &r : d->requests) {
        if (r == target || r.section(u'?', 0, 0) == target)
            ++n;
    }
    return n;
}

int LoopbackServer::totalRequests() const
{
    std::lock_guard lock(d->mutex);
    return int(d->requests.size());
}

void LoopbackServer::clearRequests()
{
    std::lock_guard lock(d->mutex);
    d->requests.clear();
    d->userAgents.clear();
}

quint16 LoopbackServer::Impl::Serving::listen(quint16 port)
{
    quint16 bound = 0;
    listenFd = openListenSocket(port, &bound);
    if (listenFd == kNoSocket)
        return 0;
    notifier = std::make_unique<QSocketNotifier>(listenFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &context,
                     [this] { acceptPending(); });
    acceptRetry.setSingleShot(true);
    acceptRetry.setInterval(kAcceptRetryMs);
    QObject::connect(&acceptRetry, &QTimer::timeout, &context, [this] {
        notifier->setEnabled(true);
        acceptPending();
    });
    return bound;
}

void LoopbackServer::Impl::Serving::acceptPending()
{
    for (;;) {
        AcceptFailure failure = AcceptFailure::None;
        const qintptr fd = acceptConnection(listenFd, &failure);
        if (fd == kNoSocket) {
            if (failure == AcceptFailure::TryAgain)
                continue;
            if (failure == AcceptFailure::Exhausted) {
                // Out of descriptors (or memory): the socket stays readable until a connection
                // is accepted, so stop listening for a moment instead of spinning; by then a
                // connection may have ended, or the idle timeout ends one.
                notifier->setEnabled(false);
                acceptRetry.start();
            }
            return;
        }
        if (fd >= ceiling) {
            closeSocket(fd); // turned away at once, rather than left to wait in the backlog
            continue;
        }
        auto *socket = new QTcpSocket(&context);
        if (!socket->setSocketDescriptor(fd)) {
            closeSocket(fd);
            delete socket;
            continue;
        }
        onNewConnection(socket);
    }
}

void LoopbackServer::Impl::Serving::onNewConnection(QTcpSocket *socket)
{
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (limits.maxConnections > 0 && connections.size() >= limits.maxConnections) {
        // Turned away at once rather than queued behind connections that may never end.
        respond(socket, plainStatus(503), true, false);
        return;
    }
    Connection &c = connections[socket];
    if (limits.idleTimeoutMs > 0) {
        c.idle = new QTimer(socket);
        c.idle->setSingleShot(true);
        c.idle->setInterval(limits.idleTimeoutMs);
        QObject::connect(c.idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        c.idle->start();
    }
    socket->setReadBufferSize(kReadBufferBytes);
    QObject::connect(socket, &QTcpSocket::readyRead, &context, [this, socket] { serve(socket); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, &context, [this, socket] {
        const auto it = connections.find(socket);
        if (it != connections.end() && !it->busy)
            startIdle(*it); // the client is taking answers: that is progress
        serve(socket);
    });
    QObject::connect(socket, &QObject::destroyed, &context,
                     [this, socket] { connections.remove(socket); });
    serve(socket); // bytes may have come with the connection
}

void LoopbackServer::Impl::Serving::serve(QTcpSocket *socket)
{
    for (;;) {
        const auto it = connections.find(socket);
        if (it == connections.end())
            return;
        Connection &c = *it;
        if (c.busy || c.closing || socket->bytesToWrite() > kMaxUnsentBytes)
            return; // resumed when the held answer goes out, or when the client reads
        SiteRequest request;
        const qsizetype used = parseRequestHead(c.buffer, c.pos, &request);
        if (used == 0) {
            if (socket->bytesAvailable() <= 0)
                return; // resumed by readyRead
            if (c.pos > 0) {
                c.buffer.remove(0, c.pos);
                c.pos = 0;
            }
            c.buffer += socket->read(kReadBufferBytes);
            continue;
        }
        if (used < 0) {
            c.closing = true;
            respond(socket, plainStatus(431), true, false);
            return;
        }
        c.pos += used;
        startIdle(c);

        const QString target = QString::fromLatin1(request.target);
        {
            std::lock_guard lock(server->mutex);
            if (server->recording) {
                server->requests.append(target);
                server->userAgents.append(request.userAgent);
            }
        }
        LoopbackResponse response = server->handler(request);
        emit server->q->requestReceived(target);
        if (response.browserOnly && !isBrowser(request.userAgent))
            response.body.clear();
        const bool withBody = request.method != "HEAD";
        const bool keepOpen = request.keepOpen && !response.close;
        c.closing = !keepOpen;

        if (response.neverAnswer) {
            c.busy = true;
            if (c.idle)
                c.idle->stop();
            return;
        }
        if (response.delayMs <= 0) {
            if (respond(socket, response, withBody, keepOpen))
                continue;
            return;
        }
        c.busy = true;
        if (c.idle)
            c.idle->stop();
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, Qt::PreciseTimer, socket,
                           [this, guard, response, withBody, keepOpen] {
                               if (!guard)
                                   return;
                               const auto held = connections.find(guard);
                               if (held == connections.end())
                                   return;
                               held->busy = false;
                               startIdle(*held);
                               if (respond(guard, response, withBody, keepOpen))
                                   serve(guard);
                           });
        return;
    }
}

bool LoopbackServer::Impl::Serving::respond(QTcpSocket *socket, const LoopbackResponse &response,
                                            bool withBody, bool keepOpen)
{
    const auto never = [this, socket] {
        const auto it = connections.find(socket);
        if (it != connections.end()) {
            it->busy = true;
            if (it->idle)
                it->idle->stop();
        }
        return false;
    };
    if (!response.endless.isEmpty()) {
        socket->write(response.body);
        // At most about one piece waits in the socket, however slowly the client reads.
        const QByteArray piece = response.endless;
        const auto feed = [socket, piece] {
            if (socket->bytesToWrite() < piece.size())
                socket->write(piece);
        };
        if (response.trickleMs > 0) {
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, feed);
            timer->start(response.trickleMs);
        } else {
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        }
        feed();
        return never();
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      (response.reason.isEmpty() ? reasonFor(response.status) : response.reason) +
                      "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += keepOpen ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    socket->write(head);
    if (response.closeMidBody || response.stallMidBody) {
        socket->write(response.body.left(response.body.size() / 2));
        if (response.closeMidBody)
            socket->disconnectFromHost(); // after the half already queued
        return never();
    }
    if (withBody)
        socket->write(response.body);
    if (!keepOpen)
        socket->disconnectFromHost();
    return keepOpen;
}
