#pragma once

#include "buyercreditrecord.h"
#include "fetchpage.h"
#include "pageresult.h"
#include "queryconfig.h"
#include "querysettings.h"

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

// The names of the pages in a query's page results (PageResult::page): the buyer's own pages,
// then the two downloads from our web site.
namespace BuyerPage {
inline const QString Search = QStringLiteral("search");
inline const QString Detail = QStringLiteral("detail");
inline const QString NeutralGiven = QStringLiteral("neutralGiven");
inline const QString BadGiven = QStringLiteral("badGiven");
inline const QString NameCard = QStringLiteral("nameCard");
inline const QString Personal = QStringLiteral("personal");
inline const QString Popup = QStringLiteral("popup");
inline const QString Config = QStringLiteral("config");
inline const QString AreaTable = QStringLiteral("areaTable");
} // namespace BuyerPage

// A buyer page's name as the user reads it: "搜索页", "信用页" …; other names as they are.
QString buyerPageTitle(const QString &page);
// Whether the page is one of the buyer's own (not a download from our web site).
bool isBuyerPage(const QString &page);

// What one buyer query yields: the record, and what each page fetch did, in the defined order of
// the pages (search, detail, neutral and bad ratings given, name card, personal page, popup name
// card; pages that were never requested are left out).
//
// A page that turns out to be the marketplace's login, check or access-denied page (its text
// holds a block marker, and none of the markers its rule starts from) has the outcome Blocked: its
// rule does not run, so its fields stay empty, and the query goes on with the next page. Such a
// detail page is not handed to the browser either: it would meet the same wall. The markers are
// the settings' (built-in by default) and the configuration's (entries 77 to 88).
struct BuyerQueryResult
{
    BuyerCreditRecord record;
    PageResults pages;
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

Q_DECLARE_METATYPE(BuyerQueryResult)
