#pragma once

#include "buyercreditrecord.h"
#include "queryconfig.h"
#include "querysettings.h"

// The page loader of last resort for the detail page: an embedded browser that reads a page the
// plain fetch could not. It loads the address, waits (processing window events) until the page is
// complete or the clock's minute changes, and returns the HTML of the document body as the
// browser writes it, or "".
class DetailPageBrowser
{
public:
    virtual ~DetailPageBrowser() = default;
    virtual QString loadBodyHtml(const QString &address) = 0;
};

// One buyer query after another with a shared query configuration and area table, downloaded by
// the first query that finds configuration entry 0 blank. Used alike by the main window, the
// batch and the command line.
class BuyerQuery
{
public:
    explicit BuyerQuery(const QuerySettings &settings);

    void setBrowser(DetailPageBrowser *browser) { m_browser = browser; }
    const QuerySettings &settings() const { return m_settings; }

    // Downloads the query configuration and the area table while entry 0 is blank.
    void ensureConfiguration();
    // Fetches and reads the buyer's pages in order: search, detail, neutral and bad ratings
    // given, name card, personal page, popup name card.
    BuyerCreditRecord queryBuyer(const QString &buyerId);
    // Both of the above.
    BuyerCreditRecord run(const QString &buyerId);

    const QueryConfig &config() const { return m_config; }
    const QString &areaTable() const { return m_areaTable; }

private:
    QuerySettings m_settings;
    QueryConfig m_config;
    QString m_areaTable;
    DetailPageBrowser *m_browser = nullptr;
};
