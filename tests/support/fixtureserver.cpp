#include "fixtureserver.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

FixtureServer::FixtureServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FixtureServer::onNewConnection);
}

FixtureServer::~FixtureServer()
{
    for (const QPointer<QTcpSocket> &s : std::as_const(m_sockets)) {
        if (s)
            s->abort();
    }
}

bool FixtureServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 FixtureServer::port() const
{
    return m_server.serverPort();
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
    m_responses.clear();
}

int FixtureServer::requestCount(const QString &target) const
{
    int n = 0;
    for (const QString &r : m_requests) {
        if (r == target || r.section(u'?', 0, 0) == target)
            ++n;
    }
    return n;
}

void FixtureServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
    }
}

void FixtureServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray requestLine = buffer.left(buffer.indexOf("\r\n"));
    buffer.clear();
    const QList<QByteArray> parts = requestLine.split(' ');
    const QString target = parts.size() >= 2 ? QString::fromLatin1(parts.at(1)) : QString();
    m_requests.append(target);
    emit requestReceived(target);

    FixtureResponse response;
    if (m_responses.contains(target)) {
        response = m_responses.value(target);
    } else if (m_responses.contains(target.section(u'?', 0, 0))) {
        response = m_responses.value(target.section(u'?', 0, 0));
    } else {
        response.status = 404;
        response.reason = "Not Found";
        response.body = "<html><body>404 not found</body></html>";
    }
    if (response.neverAnswer)
        return;
    QPointer<QTcpSocket> guard(socket);
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, this, [this, guard, response] {
            if (guard)
                answer(guard, response);
        });
    } else {
        answer(socket, response);
    }
}

void FixtureServer::answer(QTcpSocket *socket, const FixtureResponse &response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason +
                      "\r\n";
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
