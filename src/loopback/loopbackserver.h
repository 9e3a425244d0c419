#pragma once

#include "loopback/siterequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>

#include <functional>
#include <memory>

// One answer of a loopback server, and how it goes out.
struct LoopbackResponse
{
    int status = 200;
    QByteArray reason;                            // empty: the usual phrase for the status
    QList<QPair<QByteArray, QByteArray>> headers; // sent after the status line, before our own
    QByteArray body;                              // raw bytes: GBK pages go out untouched
    bool close = false; // close the connection after this answer, even if the client keeps it
    int delayMs = 0;    // hold the answer back this long; later requests on the connection wait
    bool neverAnswer = false;  // read the request, then stay silent
    bool closeMidBody = false; // announce the whole body, send half of it, close the connection
    bool stallMidBody = false; // announce the whole body, send half of it, then stay silent
    bool browserOnly = false;  // the body goes only to a browser's User-Agent (Mozilla and
                               // AppleWebKit); any other client gets an empty one
    // An answer that never completes: when not empty, body goes out as it is (status line and
    // headers included, nothing of ours added), then endless again and again until the client
    // goes away: one piece every trickleMs, or (0) as fast as the client takes them.
    QByteArray endless;
    int trickleMs = 0;
};

// An HTTP/1.1 server on 127.0.0.1 for the demo site and the tests. A handler computes each
// answer from the request; the server reads the requests, sends the answers the way they ask,
// and keeps connections open for further requests (keep-alive, pipelined requests answered in
// order as the client takes them) unless either side asks to close. It serves from a thread of
// its own, so it answers while the thread that owns it blocks in a fetch; every method may be
// called from any thread. The handler and requestReceived run on the server's thread.
class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<LoopbackResponse(const SiteRequest &request)>;

    // What the server allows its clients. A connection that sends no complete request and takes
    // no answer for idleTimeoutMs is closed; beyond maxConnections open at once a new client is
    // answered 503 and closed. 0: no limit.
    struct Limits
    {
        int idleTimeoutMs = 30000;
        int maxConnections = 128;
    };

    explicit LoopbackServer(Handler handler, QObject *parent = nullptr);
    ~LoopbackServer() override; // stops the thread; connections still open are reset

    void setLimits(const Limits &limits); // takes effect at the next listen()
    // Keeps every request's target and User-Agent for requests() and the counts (tests); off by
    // default, so a server that runs for long keeps nothing.
    void setRecording(bool on);

    // Listens on 127.0.0.1:port (0: any free one); returns once listening (true) or failed to.
    bool listen(quint16 port = 0);
    // Stops serving: the thread ends, connections still open are reset. A handler whose data
    // goes before the server calls this first.
    void close();
    quint16 port() const;                     // 0 while not listening
    QString hostPort() const;                 // "127.0.0.1:PORT"; empty while not listening
    QString url(const QString &target) const; // "http://127.0.0.1:PORT" + target

    QStringList requests() const;                  // targets in arrival order
    QList<QByteArray> userAgents() const;          // their User-Agent headers, in the same order
    int requestCount(const QString &target) const; // by full target or by path
    int totalRequests() const;
    void clearRequests();

signals:
    void requestReceived(const QString &target); // as soon as a request's head has arrived

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
