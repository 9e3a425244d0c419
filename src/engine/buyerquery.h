#pragma once

#include "engine/detailpagebrowser.h"
#include "engine/querysetup.h"
#include "files/querysettings.h"
#include "model/buyerqueryresult.h"
#include "web/fetchpage.h"

class TaskPool;

// Fetches and reads one buyer's pages: search, detail, neutral and bad ratings given, name card,
// personal page, popup name card. A pure function of its arguments and of what the pages say:
// the setup is shared read-only by every query in flight, so any number may run at once. Blocks
// the calling thread (a worker: the window's thread never fetches).
//
// With the settings' parallelPages and a pool, the three chains of a buyer's pages (search ->
// detail -> ratings given; name card -> personal page; popup name card) run at once on the pool,
// and the two ratings-given pages together. The record is the same; only the order of requests
// differs. The browser (may be null) reads a detail page the fetch got nothing from. The id is
// used as given: LookupService trims what a user typed.
BuyerQueryResult queryBuyer(const QuerySetup &setup, const QuerySettings &settings,
                            const QString &buyerId, const FetchContext &context = {},
                            DetailPageBrowser *browser = nullptr, TaskPool *pool = nullptr);
