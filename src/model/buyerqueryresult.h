#pragma once

#include "model/buyercreditrecord.h"
#include "web/pageresult.h"

#include <QMetaType>
#include <QString>

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
    bool listed = false; // the search page was read and has the buyer's entry
};

Q_DECLARE_METATYPE(BuyerQueryResult)
