#pragma once

#include "engine/queryconfig.h"
#include "files/querysettings.h"
#include "model/buyerqueryresult.h"
#include "web/fetchpage.h"

class CancelToken;

// The page loader of last resort for the detail page: an embedded browser that reads a page the
// plain fetch could not. Called on the query's thread: it loads the address, waits until the page
// is complete or the clock's minute changes (or the job is cancelled), and returns the HTML of the
// document body as the browser writes it, or "".
class DetailPageBrowser
{
public:
    virtual ~DetailPageBrowser() = default;
    virtual QString loadBodyHtml(const QString &address, const CancelToken *cancel) = 0;
};

// One buyer query after another with a shared query configuration and area table, downloaded by
// the first query that finds configuration entry 0 blank. Used alike by the main window, the
// batch and the command line, always on a worker thread: every call blocks while it fetches.
//
// queryBuyer only reads the configuration, so several threads may run it at once (the batch's
// workers); ensureConfiguration writes it and must not run alongside any other call.
class BuyerQuery
{
public:
    explicit BuyerQuery(const QuerySettings &settings);

    void setBrowser(DetailPageBrowser *browser) { m_browser = browser; }
    DetailPageBrowser *browser() const { return m_browser; }
    const QuerySettings &settings() const { return m_settings; }

    // The three chains of a buyer's pages (search -> detail -> ratings given; name card ->
    // personal page; popup name card) run at once, and the two ratings-given pages together.
    // The record is the same; only the order of requests differs.
    void setParallelPages(bool parallel) { m_parallelPages = parallel; }
    bool parallelPages() const { return m_parallelPages; }

    // Downloads the query configuration and the area table while entry 0 is blank, and says
    // what each of those fetches did.
    PageResults ensureConfiguration(const FetchContext &context = {});
    // Fetches and reads the buyer's pages: search, detail, neutral and bad ratings given, name
    // card, personal page, popup name card.
    BuyerQueryResult queryBuyer(const QString &buyerId, const FetchContext &context = {}) const;
    // Both of the above.
    BuyerQueryResult run(const QString &buyerId, const FetchContext &context = {});

    const QueryConfig &config() const { return m_config; }
    const QString &areaTable() const { return m_areaTable; }

private:
    struct DetailChain;
    struct NameCardChain;
    void runDetailChain(const QString &id, const FetchContext &context, DetailChain *out) const;
    void runNameCardChain(const QString &id, const FetchContext &context, NameCardChain *out) const;
    PageResult fetchPopupCard(const QString &id, const FetchContext &context) const;
    QString fetchBuyerPage(PageResults &log, const QString &page, const QString &address, int mode,
                           const FetchContext &context) const;
    QStringList anchorsOf(const QString &page) const;

    QuerySettings m_settings;
    QueryConfig m_config;
    QStringList m_blockMarkers; // the settings' and the configuration's
    QString m_areaTable;
    DetailPageBrowser *m_browser = nullptr;
    bool m_parallelPages = false;
};
