#pragma once

#include <QString>

#include <memory>

class BatchJournal;
class BatchPacing;

// How a batch runs. One buyer at a time is the default and sends the requests in the defined
// order; several in flight shorten a long batch, each buyer's own pages still in their order.
struct BatchOptions
{
    static constexpr int kMaxJobs = 8;
    // The longest pause after blocks in a row; after a quiet spell this long the marketplace has
    // forgotten the batches before.
    static constexpr qint64 kLongestPauseMs = 30 * 60 * 1000;
    int jobs = 1;   // buyers in flight at once, 1 to kMaxJobs
    int paceMs = 0; // the least gap between two request starts to one host
    // A buyer whose pages were blocked is looked up again after the pause, this often at most
    // in all. (The pause and the reuse of recent lookups are the settings'.)
    int maxTries = 3;
    // Where finished rows are kept as they finish (null: nowhere); the rows it holds that were
    // found or not found are not looked up again, those that failed are.
    BatchJournal *journal = nullptr;
    // The pacing of the batches before this one, carried on (null: a fresh one on the service's
    // pace): fewer buyers in flight outlast one batch, so batches in a row are as polite as one
    // long one (the pace itself is the service's and outlasts every batch). One batch at a time
    // uses it.
    std::shared_ptr<BatchPacing> pacing;
};

// The time left of a batch, from the pace achieved so far: the time taken per finished buyer
// times the buyers left; -1 before the first buyer has finished.
qint64 batchMsLeft(qint64 elapsedMs, int finished, int total);
// "预计还需 3 分 12 秒" ("about 3 min 12 s left" in English); "" for -1.
QString batchTimeLeftText(qint64 msLeft);
// "市场要求验证，暂停 60 秒…" and the English for LANG=en*.
QString batchPauseText(int seconds);
