#include "demosite/demosite.h"

#include "demosite/sitepages.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <vector>

// The site's state: the pages and what changes them, read by the server's thread.
struct DemoSite::Impl
{
    std::mutex mutex;                       // guards the two below
    QString versionText;                    // what the pages show in slot 0
    std::shared_ptr<const SitePages> pages; // made on first use, replaced whole
    std::atomic<int> delayMs{0};
    std::atomic<int> blockAfter{0};
    std::atomic<qint64> marketRequests{0}; // marketplace requests answered so far
    // The budget: at most budgetPages marketplace pages served within any budgetWindowMs, then
    // the login page for budgetBlockMs. The times of the pages served within the window, until
    // when the login page is served, and when each marketplace request came (for benchmarks).
    std::atomic<int> budgetPages{0};
    std::atomic<int> budgetWindowMs{1000};
    std::atomic<int> budgetBlockMs{3000};
    std::atomic<int> rateLimitBlocks{0};
    std::atomic<qint64> searchRequests{0};
    std::mutex rateMutex;
    std::deque<std::chrono::steady_clock::time_point> served;
    std::chrono::steady_clock::time_point blockedUntil;
    const std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
    std::vector<qint64> requestTimes; // ms since the site was made
    std::vector<qint64> blockTimes;

    std::unique_ptr<LoopbackServer> silentHost;

    // Whether this marketplace request is over the budget (or falls in its block).
    bool overBudget()
    {
        const int limit = budgetPages;
        if (limit <= 0)
            return false;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point now = Clock::now();
        const auto window = std::chrono::milliseconds(int(budgetWindowMs));
        std::lock_guard lock(rateMutex);
        const qint64 sinceStart =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - startedAt).count();
        requestTimes.push_back(sinceStart);
        while (!served.empty() && now - served.front() >= window)
            served.pop_front();
        if (now < blockedUntil)
            return true;
        if (int(served.size()) >= limit) {
            blockedUntil = now + std::chrono::milliseconds(int(budgetBlockMs));
            blockTimes.push_back(sinceStart);
            ++rateLimitBlocks;
            return true;
        }
        served.push_back(now);
        return false;
    }

    // Last: destroyed first, so the server stops before what its handler reads goes.
    LoopbackServer server{[this](const SiteRequest &request) { return answer(request); }};

    // The pages name the site's own address, known once it listens.
    std::shared_ptr<const SitePages> currentPages()
    {
        std::lock_guard lock(mutex);
        if (!pages)
            pages = std::make_shared<const SitePages>(server.hostPort(), versionText);
        return pages;
    }

    LoopbackResponse answer(const SiteRequest &request)
    {
        LoopbackResponse response;
        response.delayMs = delayMs;
        SiteResponse page;
        if (!request.wellFormed) {
            page.status = 400;
            page.contentType = "text/plain";
            response.close = true;
        } else if (request.method != "GET" && request.method != "HEAD") {
            page.status = 405;
            page.contentType = "text/plain";
            response.close = true;
        } else {
            const auto pages = currentPages();
            const int n = blockAfter;
            const bool market = SitePages::isMarketplaceRequest(request.target);
            const qint64 number = market ? marketRequests.fetch_add(1) + 1 : 0;
            if (request.target.startsWith("/member/search.htm"))
                ++searchRequests;
            if ((n > 0 && market && number % n == 0) || (market && overBudget()))
                page = pages->blockedPage();
            else
                page = pages->answer(request.target, request.userAgent);
        }
        response.status = page.status;
        if (!page.contentType.isEmpty())
            response.headers = {{"Content-Type", page.contentType}};
        response.body = page.body;
        return response;
    }
};

DemoSite::DemoSite(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}

DemoSite::~DemoSite() = default;

bool DemoSite::start(quint16 port, int delayMs)
{
    if (d->server.port() != 0)
        return false;
    d->delayMs = qMax(0, delayMs);
    if (!d->server.listen(port))
        return false;
    d->currentPages(); // made now rather than on the first request
    return true;
}

void DemoSite::setLimits(const Limits &limits)
{
    d->server.setLimits(limits);
}

void DemoSite::setVersionText(const QString &text)
{
    std::lock_guard lock(d->mutex);
    d->versionText = text;
    d->pages.reset();
}

void DemoSite::setBlockAfter(int n)
{
    d->blockAfter = qMax(0, n);
}

void DemoSite::setRateLimit(int n)
{
    setBudget(n, 1, 3);
}

void DemoSite::setBudget(int pages, int windowSec, int blockSec)
{
    d->budgetWindowMs = qBound(1, windowSec, 86400) * 1000;
    d->budgetBlockMs = qBound(1, blockSec, 86400) * 1000;
    d->budgetPages = qMax(0, pages);
}

std::vector<qint64> DemoSite::marketplaceRequestTimes() const
{
    std::lock_guard lock(d->rateMutex);
    return d->requestTimes;
}

std::vector<qint64> DemoSite::blockTimes() const
{
    std::lock_guard lock(d->rateMutex);
    return d->blockTimes;
}

int DemoSite::rateLimitBlocks() const
{
    return d->rateLimitBlocks;
}

qint64 DemoSite::marketplaceRequests() const
{
    return d->marketRequests;
}

qint64 DemoSite::searchRequests() const
{
    return d->searchRequests;
}

bool DemoSite::startSilentHost()
{
    if (d->silentHost)
        return true;
    auto server = std::make_unique<LoopbackServer>([](const SiteRequest &) {
        LoopbackResponse response;
        response.neverAnswer = true;
        return response;
    });
    // A silent host keeps its connections as long as the client waits.
    server->setLimits({0, 0});
    if (!server->listen(0))
        return false;
    d->silentHost = std::move(server);
    return true;
}

QString DemoSite::silentHostPort() const
{
    return d->silentHost ? d->silentHost->hostPort() : QString();
}

quint16 DemoSite::port() const
{
    return d->server.port();
}

QString DemoSite::hostPort() const
{
    return d->server.hostPort();
}
