#include "demosite.h"

#include "sitepages.h"

#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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

} // namespace

struct DemoSite::Impl
{
    QTcpServer server;
    int delayMs = 0;
    QString versionText;
    std::unique_ptr<SitePages> pages;
    QHash<QTcpSocket *, QByteArray> pending; // request bytes read so far, per connection
    QSet<QTcpSocket *> busy;                 // connections whose answer is still held back

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    // Answers the next complete request on the connection, if one has arrived and none is
    // being answered. Connections stay open for further requests (HTTP/1.1 keep-alive), one
    // request at a time, unless the client asks to close.
    void serveNext(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const SiteResponse &response, bool withBody, bool keepOpen);
};

DemoSite::DemoSite(QObject *parent) : QObject(parent), d(std::make_unique<Impl>())
{
    connect(&d->server, &QTcpServer::newConnection, this, [this] { d->onNewConnection(); });
}

DemoSite::~DemoSite()
{
    d->server.close();
    // Connections still open (answers held back by the delay) go before the rest of the state.
    qDeleteAll(d->server.findChildren<QTcpSocket *>());
}

bool DemoSite::start(quint16 port, int delayMs)
{
    if (d->server.isListening())
        return false;
    if (!d->server.listen(QHostAddress::LocalHost, port))
        return false;
    d->delayMs = qMax(0, delayMs);
    d->pages = std::make_unique<SitePages>(hostPort(), d->versionText);
    return true;
}

void DemoSite::setVersionText(const QString &text)
{
    d->versionText = text;
    if (d->server.isListening())
        d->pages = std::make_unique<SitePages>(hostPort(), d->versionText);
}

quint16 DemoSite::port() const
{
    return d->server.isListening() ? d->server.serverPort() : 0;
}

QString DemoSite::hostPort() const
{
    return d->server.isListening() ? QStringLiteral("127.0.0.1:%1").arg(port()) : QString();
}

void DemoSite::Impl::onNewConnection()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        // Parented to the server so the destructor can find connections still open.
        socket->setParent(&server);
        QObject::connect(socket, &QTcpSocket::readyRead, &server,
                         [this, socket] { onReadyRead(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QObject::destroyed, &server, [this, socket] {
            pending.remove(socket);
            busy.remove(socket);
        });
    }
}

void DemoSite::Impl::onReadyRead(QTcpSocket *socket)
{
    pending[socket] += socket->readAll();
    serveNext(socket);
}

void DemoSite::Impl::serveNext(QTcpSocket *socket)
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

void DemoSite::Impl::respond(QTcpSocket *socket, const SiteResponse &response, bool withBody,
                             bool keepOpen)
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
