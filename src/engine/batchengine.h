#pragma once

#include "engine/buyerquery.h"
#include "files/spreadsheetexport.h"

#include <QList>
#include <QStringList>

#include <functional>

class CancelToken;

// How a batch runs. One buyer at a time is the default and sends the requests in the defined
// order; several in flight shorten a long batch, each buyer's own pages still in their order.
struct BatchOptions
{
    static constexpr int kMaxJobs = 8;
    int jobs = 1;   // buyers in flight at once, 1 to kMaxJobs
    int paceMs = 0; // the least gap between two request starts to one host
};

// Told as the batch goes, one call at a time (never two at once), from the batch's threads.
struct BatchCallbacks
{
    // A buyer's query starts; `finished` buyers are done so far (with one in flight: its index).
    std::function<void(int finished, int total, const QString &id)> started;
    // A buyer's query is done; `index` is its place in the id list.
    std::function<void(int index, const BuyerQueryResult &result)> done;
};

// Queries every id (the query configuration and area table are downloaded once, before the
// first buyer) and returns the rows in the order of the ids, whatever the order in which the
// buyers finished. Blocks the calling thread; each worker has its own HTTP session. A cancelled
// batch returns what it has with *cancelled set (no buyer after the cancellation is started).
QList<BatchRow> runBatch(BuyerQuery &query, const QStringList &ids, const BatchOptions &options,
                         const CancelToken &cancel, const BatchCallbacks &callbacks = {},
                         bool *cancelled = nullptr);
