#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>

#include <memory>
#include <mutex>

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
// order. It serves from a thread of its own, so it answers while the thread that owns it blocks
// in a fetch (with or without an event loop); every method may be called from any thread.
// requestReceived is emitted on the server's thread: receivers elsewhere get it queued.
class FixtureServer : public QObject
{
    Q_OBJECT
public:
    explicit FixtureServer(QObject *parent = nullptr);
    ~FixtureServer() override; // stops the thread; connections still open are reset

    bool listen(); // any free port on 127.0.0.1; returns once listening
    quint16 port() const;
    QString hostPort() const;                 // "127.0.0.1:PORT"
    QString url(const QString &target) const; // "http://127.0.0.1:PORT" + target

    void setResponse(const QString &target, const FixtureResponse &response);
    void setPage(const QString &target, const QByteArray &body, int status = 200); // shorthand
    void clearResponses();

    QStringList requests() const;                  // targets in arrival order
    int requestCount(const QString &target) const; // by full target or by path
    int totalRequests() const;
    void clearRequests();

signals:
    void requestReceived(const QString &target); // as soon as a request's head has arrived

private:
    class Thread;
    // Records the request and returns what to answer (on the server's thread).
    FixtureResponse take(const QString &target);

    mutable std::mutex m_mutex; // guards the three below
    QHash<QString, FixtureResponse> m_responses;
    QStringList m_requests;
    quint16 m_port = 0;
    std::mutex m_listenMutex; // guards m_thread
    std::unique_ptr<Thread> m_thread;
};
