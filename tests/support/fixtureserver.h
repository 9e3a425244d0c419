#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// What the fixture server answers for one target.
struct FixtureResponse
{
    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers; // sent after the status line, before our own
    QByteArray body;                              // raw bytes: GBK pages go out untouched
    int delayMs = 0;                              // hold the answer back this long
    bool neverAnswer = false;                     // read the request, then stay silent
    bool closeMidBody = false; // announce the whole body, send half of it, close the connection
};

// A loopback HTTP/1.1 server for tests. Answers are configured per target: the request target
// as it arrives ("/path?query", percent-encoded as sent) or just its path; an exact target wins
// over a path. Anything not configured gets a 404 page. Every request is recorded in arrival
// order. Runs on the thread that owns it, so it serves while the code under test waits in a
// nested event loop.
class FixtureServer : public QObject
{
    Q_OBJECT
public:
    explicit FixtureServer(QObject *parent = nullptr);
    ~FixtureServer() override;

    bool listen(); // any free port on 127.0.0.1
    quint16 port() const;
    QString hostPort() const;                  // "127.0.0.1:PORT"
    QString url(const QString &target) const;  // "http://127.0.0.1:PORT" + target

    void setResponse(const QString &target, const FixtureResponse &response);
    void setPage(const QString &target, const QByteArray &body, int status = 200); // shorthand
    void clearResponses();

    QStringList requests() const { return m_requests; } // targets in arrival order
    int requestCount(const QString &target) const;       // by full target or by path
    int totalRequests() const { return int(m_requests.size()); }
    void clearRequests() { m_requests.clear(); }

signals:
    void requestReceived(const QString &target); // as soon as a request's head has arrived

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const FixtureResponse &response);

    QTcpServer m_server;
    QHash<QString, FixtureResponse> m_responses;
    QStringList m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<QPointer<QTcpSocket>> m_sockets;
};
