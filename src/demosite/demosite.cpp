#include "demosite/demosite.h"

#include "demosite/sitepages.h"

#include <atomic>
#include <mutex>

// The site's state: the pages and what changes them, read by the server's thread.
struct DemoSite::Impl
{
    std::mutex mutex;                       // guards the two below
    QString versionText;                    // what the pages show in slot 0
    std::shared_ptr<const SitePages> pages; // made on first use, replaced whole
    std::atomic<int> delayMs{0};
    std::atomic<int> blockAfter{0};
    std::atomic<qint64> marketRequests{0}; // marketplace requests answered so far

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
            if (n > 0 && SitePages::isMarketplaceRequest(request.target) &&
                (marketRequests.fetch_add(1) + 1) % n == 0)
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

quint16 DemoSite::port() const
{
    return d->server.port();
}

QString DemoSite::hostPort() const
{
    return d->server.hostPort();
}
