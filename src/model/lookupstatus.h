#pragma once

#include "web/pageresult.h"

#include <QString>

// What a lookup came to, beside its record: a failure never looks like an empty buyer.
enum class LookupStatus {
    Found,           // the search page lists the buyer and every page was read
    NotFound,        // the search page was read and lists no such member
    Blocked,         // the marketplace answered a page with its login or check page
    NoConfiguration, // no query configuration could be had from our web site
    NotConfigured,   // the settings name no host
    PagesFailed,     // the marketplace did not answer some pages (timed out, failed, empty)
    Cancelled,       // the job was cancelled before the lookup ended
};

// "found", "notFound", "blocked", "noConfiguration", "notConfigured", "pagesFailed", "cancelled".
QString lookupStatusName(LookupStatus status);
// The status as the user reads it: "已查到", "查无此人", "页面被拦截" …
QString lookupStatusText(LookupStatus status);
// Whether the lookup says something about the buyer (found or not found): only those are kept
// in the history, and only a lookup that failed otherwise makes brelvon-cli exit with 3.
bool isLookedUp(LookupStatus status);

// The status of a buyer's pages: blocked when one of them was a block page; pages failed when
// the search page gave nothing, or when it listed the buyer and another page gave nothing (a
// detail page the browser read after all counts as read); not found when the search page was
// read and listed no entry for the buyer; else found. *detail names the pages that failed or
// were blocked, and how ("信用页 超时，名片页 网络错误").
LookupStatus buyerPagesStatus(const PageResults &pages, bool listed, QString *detail = nullptr);

// Whether the lookup asked the marketplace and no page of the buyer's came back (none read, none
// blocked): the marketplace could not be reached, which a list of pages does not say.
bool noBuyerPageAnswered(const PageResults &pages);
// What the window says then, and what to check.
QString marketplaceUnreachableText();
// What a lookup without a trade-card host cannot read, said under its lines and by the connection
// test.
QString noTradeCardHostText();

// Which downloads of the query configuration a lookup tried and how each ended, as the user
// reads it: "127.0.0.1:8080 超时；example.com 不是查询配置"; "" when none was tried.
QString configurationAttemptsText(const PageResults &pages);

// How a page fetch ended, as the user reads it: "正常", "空白", "超时", "网络错误" …
QString pageOutcomeWord(PageOutcome outcome);
// pageOutcomeWord of the page, with the status of an HTTP error: "HTTP 404".
QString pageOutcomeWords(const PageResult &page);
