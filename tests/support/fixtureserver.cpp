#include "fixtureserver.h"

FixtureServer::FixtureServer(QObject *parent)
    : LoopbackServer([this](const SiteRequest &request) { return answer(request); }, parent)
{
    setLimits({0, 0}); // a test decides how long a connection stays open, and how many there are
    setRecording(true);
}

FixtureServer::~FixtureServer()
{
    close(); // before the table the server's thread reads goes
}

void FixtureServer::setResponse(const QString &target, const FixtureResponse &response)
{
    std::lock_guard lock(m_mutex);
    m_responses.insert(target, response);
}

void FixtureServer::setPage(const QString &target, const QByteArray &body, int status)
{
    FixtureResponse r;
    r.status = status;
    r.body = body;
    setResponse(target, r);
}

void FixtureServer::clearResponses()
{
    std::lock_guard lock(m_mutex);
    m_responses.clear();
}

FixtureResponse FixtureServer::answer(const SiteRequest &request) const
{
    const QString target = QString::fromLatin1(request.target);
    FixtureResponse response;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_responses.constFind(target); it != m_responses.cend()) {
            response = *it;
        } else if (const auto path = m_responses.constFind(target.section(u'?', 0, 0));
                   path != m_responses.cend()) {
            response = *path;
        } else {
            response.status = 404;
            response.body = "<html><body>404 not found</body></html>";
        }
    }
    response.close = true;
    return response;
}
