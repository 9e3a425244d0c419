#pragma once

#include "loopback/loopbackserver.h"

#include <QHash>
#include <QString>

#include <mutex>

// What the fixture server answers for one target.
using FixtureResponse = LoopbackResponse;

// A loopback HTTP/1.1 server for tests. Answers are configured per target: the request target
// as it arrives ("/path?query", percent-encoded as sent) or just its path; an exact target wins
// over a path. Anything not configured gets a 404 page. Every request is recorded in arrival
// order, and every connection is closed after its answer.
class FixtureServer : public LoopbackServer
{
public:
    explicit FixtureServer(QObject *parent = nullptr);
    ~FixtureServer() override;

    void setResponse(const QString &target, const FixtureResponse &response);
    void setPage(const QString &target, const QByteArray &body, int status = 200); // shorthand
    void clearResponses();

private:
    // What to answer (on the server's thread).
    FixtureResponse answer(const SiteRequest &request) const;

    mutable std::mutex m_mutex; // guards m_responses
    QHash<QString, FixtureResponse> m_responses;
};
