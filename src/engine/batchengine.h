#pragma once

#include "model/batchoptions.h"
#include "web/requestpacer.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class BatchJournal;
class BatchPacing;
class CancelToken;
class TaskPool;
struct PageResult;

// A batch's manners towards the marketplace, on the pace of the requests it is handed (the
// service's, which learns each host's rate and holds the pauses). It starts at the configured
// jobs; a pause halves the buyers in flight (not below one); each buyer whose pages were all
// clean lets one more buyer into flight again, up to the jobs.
class BatchPacing
{
public:
    BatchPacing(int jobs, std::shared_ptr<RequestPacer> pacer);
    ~BatchPacing();
    BatchPacing(const BatchPacing &) = delete;
    BatchPacing &operator=(const BatchPacing &) = delete;

    RequestPacer &pacer() { return *m_pacer; }
    // Buyers allowed in flight now.
    int allowed() const;
    // A buyer's lookup ended: a clean one lets one more buyer into flight.
    void buyerDone(bool clean);
    // Whether a pause is on now, and until when (the fetch clock).
    qint64 pausedUntil() const { return m_pacer->pausedUntil(); }
    int pauses() const;
    // Since when (the fetch clock) every page read was blocked: the first block after the last
    // clean page; 0 while the last page said was clean.
    qint64 blockedSince() const;

    // Told when a pause of the pace begins, whoever's page began it: its length in whole seconds
    // and why (the block marker, or the HTTP status). Called on the fetching thread.
    void setPausedListener(std::function<void(int seconds, const QString &why)> listener);

private:
    void pauseBegan(int seconds, const QString &why);

    const int m_jobs;
    const std::shared_ptr<RequestPacer> m_pacer;
    int m_listener = 0;
    mutable std::mutex m_mutex;
    int m_allowed;
    int m_pauses = 0;
    std::function<void(int seconds, const QString &why)> m_paused;
};

// Told as the batch goes, one call at a time (never two at once), from the batch's threads.
struct BatchCallbacks
{
    // A buyer's lookup starts; `finished` buyers are done so far (with one in flight: its index).
    // Not told again when a blocked buyer is tried again.
    std::function<void(int finished, int total, const QString &id)> started;
    // A buyer's lookup is done for good; `index` is its place in the id list.
    std::function<void(int index)> done;
    // Asked before each buyer starts: true stops the batch there, the buyers in flight finishing
    // (unlike a cancellation, which cuts them short).
    std::function<bool()> stopRequested;
};

// What a buyer's lookup asks of the batch: nothing more, or another try after the pause.
enum class BatchTry { Done, Again };

// Looks up every id with lookUp(index), up to `jobs` buyers at once on the pool (as many as the
// pacing allows; one at a time on the calling thread with one job), and says which indexes
// finished. A buyer whose lookup asks for another try is looked up again (the pacing's pause
// holds its requests back) up to maxTries times in all; its last lookup stands. Blocks the
// calling thread. Once the batch is cancelled or stopped no buyer is started or tried again; a
// buyer cut short by the cancellation does not count as finished unless an earlier try of it
// did. `skip` (optional) marks indexes finished already: not looked up, not told.
std::vector<bool> runBatch(TaskPool &pool, const QStringList &ids, int jobs,
                           const CancelToken &cancel,
                           const std::function<BatchTry(int index, int attempt)> &lookUp,
                           const BatchCallbacks &callbacks = {}, BatchPacing *pacing = nullptr,
                           int maxTries = 1, const std::vector<bool> &skip = {});
