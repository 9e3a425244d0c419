#pragma once

#include "engine/queryconfig.h"

#include <QString>

// The extraction rules of the pages one query reads. Each takes the page text as fetched
// (decoded) and cuts values out of it between fixed or configured markers: plain text
// operations, no HTML parsing. A missing marker gives empty values.

// How the detail page's text was obtained: by the HTTP fetch, or from the embedded browser,
// whose rewritten HTML has marker entries of its own.
enum class DetailSource { Fetched, Browser };

struct SearchPageResult
{
    QString userNumber;    // the buyer's user number on the marketplace
    QString detailAddress; // entry 4 with "{xyid}" replaced by the user number
};

struct DetailPageResult
{
    QString goodCount;
    QString verification;     // "支付宝认证", "手机认证" or "没有认证"
    QString ratingListNumber; // fills "{urlno}" of the ratings-given addresses
    QString goodRatePercent;  // the page's own percentage, numeric or empty
    QString neutralCount;     // entries 71, 72, 73
    QString badCount;         // entries 74, 75, 76
    bool layoutA = false;     // the page holds entry 5 (else it is read as layout B)
};

struct NameCardResult
{
    QString regTime;
    QString address;     // the card's own address, "&nbsp;" read as a space
    QString personalUrl; // the personal page, requested only when it begins with "http://"
};

struct PersonalPageResult
{
    QString nick;
    QString areaName; // province name followed by the area's own name, or empty
};

// The buyer's entry on the search page: the first entry (each opened by entry 64) whose nick,
// cut between entries 67 and 68 with entries 69 and 70 removed, equals the buyer id exactly. A
// nick never runs on past the next entry. Both outputs are empty when no entry matches, and
// when entry 64 is empty; the detail address is empty when it would be longer than an address
// may be, and so are both when the user number alone is.
SearchPageResult searchPageRule(const QString &page, const QString &buyerId,
                                const QueryConfig &config);

// Layout A when the page contains entry 5, else layout B. The page must not be blank.
DetailPageResult detailPageRule(const QString &page, DetailSource source,
                                const QueryConfig &config);

// The number of non-overlapping occurrences of the marker, in decimal; "0" for a blank page and
// for an empty marker.
QString ratingsGivenCount(const QString &page, const QString &marker);

// The marker counted on the bad-ratings-given page.
inline const QString kBadRatingsGivenMarker = QStringLiteral("auctionPrice");

NameCardResult nameCardRule(const QString &page);

PersonalPageResult personalPageRule(const QString &page, const QueryConfig &config,
                                    const QString &areaTable);

// The good-rating percentage of the popup name card, numeric or empty.
QString popupNameCardRule(const QString &page);
