#pragma once

#include "loopback/loopbackserver.h"
#include "web/httpsession.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

// A small HTTP proxy for tests, on the loopback server core. It records each request line and
// forwards absolute-form GETs ("GET http://shop.invalid/path") to the loopback server its host
// name is mapped to; in the answers it writes that server's address back as the name, so the
// links of a page (a query configuration's addresses) lead through the proxy again. A host it
// does not know gets 502. Asked to, it wants a password (407) of every request instead.
class ForwardingProxy
{
public:
    ForwardingProxy();

    // Requests for `host` (a name, any port) go to `hostPort` ("127.0.0.1:PORT").
    void map(const QString &host, const QString &hostPort);
    void setAskPassword(bool ask) { m_askPassword = ask; }
    bool listen() { return m_server.listen(); }
    // "http://127.0.0.1:PORT", for [network] proxy.
    QString address() const { return QLatin1String("http://") + m_server.hostPort(); }
    // "GET http://shop.invalid/path", in arrival order.
    QStringList requestLines() const;

private:
    LoopbackResponse answer(const SiteRequest &request);

    LoopbackServer m_server;
    HttpSession m_upstream; // direct: the servers behind the proxy are on this machine
    mutable std::mutex m_mutex;
    QHash<QString, QString> m_hosts;
    QStringList m_lines;
    std::atomic<bool> m_askPassword{false};
};
