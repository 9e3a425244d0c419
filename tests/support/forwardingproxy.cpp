#include "forwardingproxy.h"

#include "web/fetchclock.h"

#include <QUrl>

ForwardingProxy::ForwardingProxy()
    : m_server([this](const SiteRequest &request) { return answer(request); })
{
}

void ForwardingProxy::map(const QString &host, const QString &hostPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hosts.insert(host.toLower(), hostPort);
}

QStringList ForwardingProxy::requestLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

LoopbackResponse ForwardingProxy::answer(const SiteRequest &request)
{
    const QUrl url = QUrl::fromEncoded(request.target);
    QString upstream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.append(QString::fromLatin1(request.method + ' ' + request.target));
        upstream = m_hosts.value(url.host().toLower());
    }
    LoopbackResponse response;
    if (m_askPassword) {
        response.status = 407;
        response.headers = {{"Proxy-Authenticate", "Basic realm=\"test\""}};
        return response;
    }
    if (request.method != "GET" || upstream.isEmpty()) {
        response.status = 502;
        return response;
    }
    // The path and query exactly as sent, after "http://authority".
    const qsizetype path = request.target.indexOf('/', request.target.indexOf("://") + 3);
    const QByteArray target = path < 0 ? QByteArray("/") : request.target.mid(path);
    int status = 0;
    QString error;
    const HttpSession::Attempt attempt =
        m_upstream.get("http://" + upstream.toLatin1() + target, fetchClockNow() + 20000, nullptr,
                       &response.body, &status, &error);
    if (attempt != HttpSession::Attempt::Finished) {
        response.status = 502;
        return response;
    }
    response.status = status;
    response.body.replace(upstream.toLatin1(), url.host().toLatin1());
    return response;
}
