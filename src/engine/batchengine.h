#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class CancelToken;
class TaskPool;

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
    // A buyer's lookup starts; `finished` buyers are done so far (with one in flight: its index).
    std::function<void(int finished, int total, const QString &id)> started;
    // A buyer's lookup is done; `index` is its place in the id list.
    std::function<void(int index)> done;
    // Asked before each buyer starts: true stops the batch there, the buyers in flight finishing
    // (unlike a cancellation, which cuts them short).
    std::function<bool()> stopRequested;
};

// Looks up every id with lookUp(index), `jobs` buyers at once on the pool (one at a time on the
// calling thread with one job), and says which indexes finished. Blocks the calling thread. Once
// the batch is cancelled or stopped no buyer is started, and a buyer cut short by the
// cancellation does not count as finished.
std::vector<bool> runBatch(TaskPool &pool, const QStringList &ids, int jobs,
                           const CancelToken &cancel, const std::function<void(int index)> &lookUp,
                           const BatchCallbacks &callbacks = {});
