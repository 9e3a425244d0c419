#include "demosite/demosite.h"

#include "demosite/sitepages.h"
#include "demosite/siterequest.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Answers not yet taken by a client: past this, further pipelined requests wait until it reads.
constexpr qint64 kMaxUnsentBytes = 256 * 1024;
// Kept from the client's bytes at once (the socket's own buffer; the kernel holds the rest).
constexpr qint64 kReadBufferBytes = kMaxRequestHead + 4;
// After a failed accept (no descriptor left), the site waits this long before it accepts again.
constexpr int kAcceptRetryMs = 200;
// Descriptors the site leaves free for the program it runs in (with --demo, its own connections
// to the site), and for the sanitizers' checks: a client past them is closed at once.
constexpr int kSpareDescriptors = 16;

// The lowest descriptor number a connection may not have.
int descriptorCeiling()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return int(limit.rlim_cur) - kSpareDescriptors;
}

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString hostPortOf(quint16 port)
{
    return port ? QStringLiteral("127.0.0.1:%1").arg(port) : QString();
}

} // namespace

// The site's shared state; every public method may be called from any thread.
struct DemoSite::Impl
{
    class Thread;
    struct Serving;

    std::mutex mutex; // guards the four below
    quint16 port = 0; // 0 while not listening
    QString versionText;
    std::shared_ptr<const SitePages> pages; // replaced whole, read by the site's thread
    Limits limits;

    std::shared_ptr<const SitePages> currentPages()
    {
        std::lock_guard lock(mutex);
        return pages;
    }

    std::atomic<int> blockAfter{0};
    std::atomic<qint64> marketRequests{0}; // marketplace requests answered so far

    std::mutex startMutex; // guards thread
    std::unique_ptr<Thread> thread;
};

// The listening socket and the connections, made and served on the site's thread.
struct DemoSite::Impl::Serving
{
    Serving(Impl *site, int delayMs, const Limits &limits)
        : site(site), delayMs(delayMs), limits(limits)
    {
    }

    struct Connection
    {
        QByteArray buffer;      // request bytes read so far
        qsizetype pos = 0;      // where the next request starts in buffer
        bool busy = false;      // an answer is being held back (delayMs)
        bool closing = false;   // the last answer is out; whatever follows is ignored
        QTimer *idle = nullptr; // no complete request and no progress for limits.idleTimeoutMs
    };

    ~Serving()
    {
        notifier.reset();
        if (listenFd >= 0)
            ::close(listenFd);
    }

    Impl *const site;
    const int delayMs;
    const Limits limits;
    QHash<QTcpSocket *, Connection> connections;
    // The listening socket is our own rather than a QTcpServer's: when accept fails for want of
    // descriptors, QTcpServer keeps the socket's notifier on and the loop spins.
    int listenFd = -1;
    int ceiling = descriptorCeiling();
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer acceptRetry;
    QObject server; // the connections' parent: destroyed first, with them still open

    // Listens on 127.0.0.1:port (0: any free port); the port listened on, or 0.
    quint16 listen(quint16 port);
    void acceptPending();
    void onNewConnection(QTcpSocket *socket);
    // Answers the complete requests that have arrived on the connection, one after another, as
    // long as the client takes the answers. Connections stay open for further requests (HTTP/1.1
    // keep-alive), one request at a time, unless the client asks to close.
    void serve(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const SiteResponse &response, bool withBody, bool keepOpen);
};

// The site's own thread, so the site answers while the thread that owns it blocks (a fetch
// without an event loop). This object belongs to the owning thread; what run() makes belongs to
// the site's thread.
class DemoSite::Impl::Thread : public QThread
{
public:
    Thread(Impl *site, quint16 port, int delayMs) : site(site), m_port(port), m_delayMs(delayMs)
    {
        setObjectName(QStringLiteral("DemoSite"));
    }
    ~Thread() override
    {
        quit();
        wait();
        // ThreadSanitizer does not see wait() (Qt synchronises inside itself); the mutex shows
        // it that everything the thread wrote happened before what follows.
        std::lock_guard lock(site->mutex);
    }

    // Starts the thread and returns once the site listens (true) or failed to (false).
    bool startListening()
    {
        start();
        std::unique_lock lock(site->mutex);
        m_startedCv.wait(lock, [this] { return m_started; });
        return site->port != 0;
    }

protected:
    void run() override
    {
        Limits limits;
        {
            std::lock_guard lock(site->mutex);
            limits = site->limits;
        }
        Serving serving(site, m_delayMs, limits);
        const quint16 port = serving.listen(m_port);
        const bool listening = port != 0;
        {
            std::lock_guard lock(site->mutex);
            if (listening) {
                site->port = port;
                site->pages =
                    std::make_shared<const SitePages>(hostPortOf(site->port), site->versionText);
            }
            m_started = true;
            m_startedCv.notify_all(); // under the lock: ThreadSanitizer then sees it end first
        }
        if (listening)
            exec();
    }

private:
    Impl *const site;
    const quint16 m_port;
    const int m_delayMs;
    std::condition_variable m_startedCv;
    bool m_started = false; // guarded by site->mutex
};

DemoSite::DemoSite(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}

// Impl's members go last first: ~Thread stops the thread (and with it every connection) first.
DemoSite::~DemoSite() = default;

bool DemoSite::start(quint16 port, int delayMs)
{
    std::lock_guard lock(d->startMutex);
    if (this->port() != 0)
        return false;
    d->thread.reset(); // one that failed to listen
    d->thread = std::make_unique<Impl::Thread>(d.get(), port, qMax(0, delayMs));
    return d->thread->startListening();
}

void DemoSite::setLimits(const Limits &limits)
{
    std::lock_guard lock(d->mutex);
    d->limits = limits;
}

void DemoSite::setVersionText(const QString &text)
{
    std::lock_guard lock(d->mutex);
    d->versionText = text;
    if (d->port)
        d->pages = std::make_shared<const SitePages>(hostPortOf(d->port), text);
}

void DemoSite::setBlockAfter(int n)
{
    d->blockAfter = qMax(0, n);
}

quint16 DemoSite::port() const
{
    std::lock_guard lock(d->mutex);
    return d->port;
}

QString DemoSite::hostPort() const
{
    return hostPortOf(port());
}

quint16 DemoSite::Impl::Serving::listen(quint16 port)
{
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        return 0;
    const int one = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listenFd, 128) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    notifier = std::make_unique<QSocketNotifier>(listenFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &server,
                     [this] { acceptPending(); });
    acceptRetry.setSingleShot(true);
    acceptRetry.setInterval(kAcceptRetryMs);
    QObject::connect(&acceptRetry, &QTimer::timeout, &server, [this] {
        notifier->setEnabled(true);
        acceptPending();
    });
    return ntohs(address.sin_port);
}

void DemoSite::Impl::Serving::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors (or memory): the socket stays readable until a connection
                // is accepted, so stop listening for a moment instead of spinning; by then a
                // connection may have ended, or the idle timeout ends one.
                notifier->setEnabled(false);
                acceptRetry.start();
            }
            return;
        }
        if (fd >= ceiling) {
            ::close(fd); // turned away at once, rather than left to wait in the backlog
            continue;
        }
        auto *socket = new QTcpSocket(&server);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        onNewConnection(socket);
    }
}

void DemoSite::Impl::Serving::onNewConnection(QTcpSocket *socket)
{
    if (connections.size() >= limits.maxConnections) {
        // Turned away at once rather than queued behind connections that may never end.
        SiteResponse busy;
        busy.status = 503;
        busy.contentType = "text/plain";
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        respond(socket, busy, true, false);
        return;
    }
    Connection &c = connections[socket];
    c.idle = new QTimer(socket);
    c.idle->setSingleShot(true);
    c.idle->setInterval(limits.idleTimeoutMs);
    QObject::connect(c.idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    c.idle->start();
    socket->setReadBufferSize(kReadBufferBytes);
    QObject::connect(socket, &QTcpSocket::readyRead, &server, [this, socket] { serve(socket); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, &server, [this, socket] {
        const auto it = connections.find(socket);
        if (it != connections.end() && !it->busy)
            it->idle->start(); // the client is taking answers: that is progress
        serve(socket);
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QObject::destroyed, &server,
                     [this, socket] { connections.remove(socket); });
    serve(socket); // bytes may have come with the connection
}

void DemoSite::Impl::Serving::serve(QTcpSocket *socket)
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
            SiteResponse r;
            r.status = 431;
            r.contentType = "text/plain";
            respond(socket, r, true, false);
            return;
        }
        c.pos += used;
        c.idle->start();

        SiteResponse response;
        bool withBody = true;
        bool keepOpen = request.keepOpen;
        if (!request.wellFormed) {
            response.status = 400;
            response.contentType = "text/plain";
            keepOpen = false;
        } else if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.contentType = "text/plain";
            keepOpen = false;
        } else {
            withBody = request.method == "GET";
            const auto pages = site->currentPages();
            const int blockAfter = site->blockAfter.load();
            if (blockAfter > 0 && SitePages::isMarketplaceRequest(request.target) &&
                (site->marketRequests.fetch_add(1) + 1) % blockAfter == 0)
                response = pages->blockedPage();
            else
                response = pages->answer(request.target, request.userAgent);
        }
        c.closing = !keepOpen;

        if (delayMs <= 0) {
            respond(socket, response, withBody, keepOpen);
            continue;
        }
        c.busy = true;
        c.idle->stop();
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(delayMs, Qt::PreciseTimer, socket,
                           [this, guard, response, withBody, keepOpen] {
                               if (!guard)
                                   return;
                               const auto held = connections.find(guard);
                               if (held == connections.end())
                                   return;
                               held->busy = false;
                               held->idle->start();
                               respond(guard, response, withBody, keepOpen);
                               serve(guard);
                           });
        return;
    }
}

void DemoSite::Impl::Serving::respond(QTcpSocket *socket, const SiteResponse &response,
                                      bool withBody, bool keepOpen)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonFor(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += keepOpen ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    socket->write(head);
    if (withBody)
        socket->write(response.body);
    if (!keepOpen)
        socket->disconnectFromHost();
}
