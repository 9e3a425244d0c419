#include "demosite.h"

#include "sitepages.h"

#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

// A request head larger than this is refused; no page of ours needs one.
constexpr qsizetype kMaxRequestHead = 64 * 1024;

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

    std::mutex mutex; // guards the three below
    quint16 port = 0; // 0 while not listening
    QString versionText;
    std::shared_ptr<const SitePages> pages; // replaced whole, read by the site's thread

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
    Serving(Impl *site, int delayMs) : site(site), delayMs(delayMs) {}

    Impl *const site;
    const int delayMs;
    QHash<QTcpSocket *, QByteArray> pending; // request bytes read so far, per connection
    QSet<QTcpSocket *> busy;                 // connections whose answer is still held back
    QTcpServer server; // destroyed first, with the connections (its children) still open

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    // Answers the next complete request on the connection, if one has arrived and none is
    // being answered. Connections stay open for further requests (HTTP/1.1 keep-alive), one
    // request at a time, unless the client asks to close.
    void serveNext(QTcpSocket *socket);
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
        Serving serving(site, m_delayMs);
        QObject::connect(&serving.server, &QTcpServer::newConnection, &serving.server,
                         [&serving] { serving.onNewConnection(); });
        const bool listening = serving.server.listen(QHostAddress::LocalHost, m_port);
        {
            std::lock_guard lock(site->mutex);
            if (listening) {
                site->port = serving.server.serverPort();
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

void DemoSite::Impl::Serving::onNewConnection()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        // A child of the server, so it goes with the server.
        QObject::connect(socket, &QTcpSocket::readyRead, &server,
                         [this, socket] { onReadyRead(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QObject::destroyed, &server, [this, socket] {
            pending.remove(socket);
            busy.remove(socket);
        });
    }
}

void DemoSite::Impl::Serving::onReadyRead(QTcpSocket *socket)
{
    pending[socket] += socket->readAll();
    serveNext(socket);
}

void DemoSite::Impl::Serving::serveNext(QTcpSocket *socket)
{
    if (busy.contains(socket) || !pending.contains(socket))
        return;
    QByteArray &buffer = pending[socket];
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > kMaxRequestHead) {
            pending.remove(socket);
            SiteResponse r;
            r.status = 431;
            r.contentType = "text/plain";
            respond(socket, r, true, false);
        }
        return;
    }
    const QByteArray head = buffer.left(end);
    buffer.remove(0, end + 4);

    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    QByteArray userAgent;
    bool keepOpen = requestLine.value(2) == "HTTP/1.1";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "user-agent")
            userAgent = line.mid(colon + 1).trimmed();
        else if (name == "connection")
            keepOpen = value == "keep-alive" || (keepOpen && value != "close");
        else if (name == "content-length" || name == "transfer-encoding")
            keepOpen = false; // a request body we do not read: no further request can follow
    }

    SiteResponse response;
    bool withBody = true;
    if (requestLine.size() != 3 || !requestLine.at(1).startsWith('/')) {
        response.status = 400;
        response.contentType = "text/plain";
        keepOpen = false;
    } else if (requestLine.at(0) != "GET" && requestLine.at(0) != "HEAD") {
        response.status = 405;
        response.contentType = "text/plain";
        keepOpen = false;
    } else {
        withBody = requestLine.at(0) == "GET";
        const auto pages = site->currentPages();
        const int blockAfter = site->blockAfter.load();
        if (blockAfter > 0 && SitePages::isMarketplaceRequest(requestLine.at(1)) &&
            (site->marketRequests.fetch_add(1) + 1) % blockAfter == 0)
            response = pages->blockedPage();
        else
            response = pages->answer(requestLine.at(1), userAgent);
    }
    if (!keepOpen)
        pending.remove(socket); // whatever follows is ignored

    if (delayMs <= 0) {
        respond(socket, response, withBody, keepOpen);
        return;
    }
    busy.insert(socket);
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(delayMs, Qt::PreciseTimer, socket,
                       [this, guard, response, withBody, keepOpen] {
                           if (!guard)
                               return;
                           busy.remove(guard);
                           respond(guard, response, withBody, keepOpen);
                       });
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
    if (!keepOpen) {
        socket->disconnectFromHost();
        return;
    }
    serveNext(socket); // a request that arrived while this one was answered
}
