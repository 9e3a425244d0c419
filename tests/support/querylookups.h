#pragma once

#include "directfetch.h"
#include "engine/buyerquery.h"
#include "lookup/lookupservice.h"
#include "web/canceltoken.h"

#include <QEventLoop>

#include <memory>
#include <thread>

// The lookups a test makes against fixture servers: whole lookups through the lookup service,
// and a buyer's pages alone through the engine once the setup is there, so a test can count
// the requests of either.
class QueryLookups
{
public:
    explicit QueryLookups(const QuerySettings &settings) : m_settings(settings) {}

    void setBrowser(DetailPageBrowser *browser) { m_browser = browser; }
    void setParallelPages(bool parallel) { m_settings.parallelPages = parallel; }

    // A whole lookup: the setup while the configuration is missing, then the buyer's pages.
    BuyerQueryResult run(const QString &id) { return lookup(id).result; }
    LookupOutcome lookup(const QString &id) { return service().lookup(id, m_cancel); }
    // A whole lookup on a thread of its own while this thread serves its events, as the
    // embedded browser's pages, which live on this thread, need.
    BuyerQueryResult runServing(const QString &id)
    {
        BuyerQueryResult result;
        QEventLoop loop; // a real event loop: Qt WebEngine starves in a polling one
        std::thread worker([&] {
            result = run(id);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        return result;
    }
    // The setup alone.
    PageResults ensureConfiguration()
    {
        PageResults pages;
        service().prepareSetup(m_cancel, &pages);
        return pages;
    }
    // The buyer's pages alone, with the setup as it stands.
    BuyerQueryResult queryBuyer(const QString &id)
    {
        return ::queryBuyer(*service().setup(), m_settings, id, directFetch(), m_browser,
                            &service().pool());
    }
    const QueryConfig &config() { return service().setup()->config; }
    QString areaTable() { return service().setup()->areaTable; }

    LookupService &service()
    {
        if (!m_service) {
            m_service = std::make_unique<LookupService>(m_settings, 2);
            m_service->setBrowser(m_browser);
        }
        return *m_service;
    }

private:
    QuerySettings m_settings;
    DetailPageBrowser *m_browser = nullptr;
    CancelToken m_cancel;
    std::unique_ptr<LookupService> m_service;
};
