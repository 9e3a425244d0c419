#include "engine/batchengine.h"

#include "engine/taskpool.h"
#include "model/uilanguage.h"
#include "web/canceltoken.h"
#include "web/fetchclock.h"
#include "web/pageresult.h"

#include <QLoggingCategory>

#include <condition_variable>
#include <deque>

Q_LOGGING_CATEGORY(lcBatch, "brelvon.batch", QtWarningMsg)

namespace {

// The gap after the first block when none was set: a few pages a second to one host.
constexpr int kFirstWidenedGapMs = 250;

} // namespace

BatchPacing::BatchPacing(int jobs, int paceMs, int blockedPauseSec)
    : m_jobs(qBound(1, jobs, BatchOptions::kMaxJobs)),
      m_firstPauseMs(qint64(qBound(1, blockedPauseSec, 3600)) * 1000),
      m_pacer(qMax(0, paceMs), true), m_allowed(m_jobs)
{
    m_pacer.pageRead = [this](const PageResult &page) { pageRead(page); };
}

int BatchPacing::allowed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_allowed;
}

int BatchPacing::pauses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pauses;
}

qint64 BatchPacing::blockedSince() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blockedSince;
}

void BatchPacing::buyerDone(bool clean)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (clean)
        m_allowed = qMin(m_jobs, m_allowed + 1);
}

void BatchPacing::pageRead(const PageResult &page)
{
    if (page.sentAtMs == 0)
        return; // no request went out: it says nothing about the marketplace
    qint64 pauseMs = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A page asked for before the last pause ended was answered by that pause already.
        if (page.sentAtMs < m_pauseEnd)
            return;
        if (page.outcome != PageOutcome::Blocked) {
            if (page.outcome == PageOutcome::Ok) {
                m_blocksInRow = 0;
                m_blockedSince = 0;
            }
            return;
        }
        if (m_blocksInRow++ == 0)
            m_blockedSince = fetchClockNow();
        pauseMs = qMin(kLongestPauseMs, m_firstPauseMs << qMin(m_blocksInRow - 1, 20));
        m_pauseEnd = fetchClockNow() + pauseMs;
        m_pacer.pauseUntil(m_pauseEnd);
        m_allowed = qMax(1, m_allowed / 2);
        m_pacer.setGapMs(qMin(kWidestGapMs, qMax(kFirstWidenedGapMs, 2 * m_pacer.gapMs())));
        ++m_pauses;
        qCInfo(lcBatch).noquote() << "blocked:" << page.error << "pause" << pauseMs << "ms, gap"
                                  << m_pacer.gapMs() << "ms," << m_allowed << "in flight";
    }
    if (paused)
        paused(int((pauseMs + 999) / 1000), page.error);
}

std::vector<bool> runBatch(TaskPool &pool, const QStringList &ids, int jobs,
                           const CancelToken &cancel,
                           const std::function<BatchTry(int index, int attempt)> &lookUp,
                           const BatchCallbacks &callbacks, BatchPacing *pacing, int maxTries,
                           const std::vector<bool> &skip)
{
    const int total = int(ids.size());
    std::vector<bool> finishedSlots(size_t(total), false);
    std::vector<int> tries(size_t(total), 0);
    std::mutex mutex; // all of the state below and the callbacks
    std::condition_variable wake;
    int next = 0;
    int finished = 0;
    int inFlight = 0;
    std::deque<int> again; // blocked buyers waiting for another try
    for (int i = 0; i < total && i < int(skip.size()); ++i) {
        if (skip[size_t(i)]) {
            finishedSlots[size_t(i)] = true;
            ++finished;
        }
    }
    const auto skipped = [&](int i) { return i < int(skip.size()) && skip[size_t(i)]; };

    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            int index = -1;
            for (;;) {
                if (cancel.isCancelled() || (callbacks.stopRequested && callbacks.stopRequested()))
                    return;
                while (next < total && skipped(next))
                    ++next;
                const bool work = !again.empty() || next < total;
                if (!work && inFlight == 0)
                    return;
                if (work && (!pacing || inFlight < pacing->allowed()))
                    break;
                // Waits for a buyer in flight to end (it may ask for another try) or for the
                // pacing to allow more; the cancellation is noticed within a tenth of a second.
                wake.wait_for(lock, std::chrono::milliseconds(100));
            }
            bool retry = false;
            if (!again.empty()) {
                index = again.front();
                again.pop_front();
                retry = true;
            } else {
                index = next++;
            }
            const int attempt = ++tries[size_t(index)];
            ++inFlight;
            if (!retry && callbacks.started)
                callbacks.started(finished, total, ids.at(index));
            lock.unlock();
            const BatchTry result = lookUp(index, attempt);
            lock.lock();
            --inFlight;
            wake.notify_all();
            if (cancel.isCancelled()) {
                // A buyer cut short by the cancellation is no row, unless an earlier try stands.
                if (attempt > 1)
                    finishedSlots[size_t(index)] = true;
                return;
            }
            if (pacing)
                pacing->buyerDone(result == BatchTry::Done);
            if (result == BatchTry::Again && attempt < maxTries &&
                !(callbacks.stopRequested && callbacks.stopRequested())) {
                qCDebug(lcBatch) << "buyer" << index << "blocked, tried" << attempt << "times";
                again.push_back(index);
                finishedSlots[size_t(index)] = true; // its last try stands if none follows
                continue;
            }
            qCDebug(lcBatch) << "buyer" << index << "of" << total << "done";
            if (callbacks.done)
                callbacks.done(index);
            finishedSlots[size_t(index)] = true;
            ++finished;
        }
    };

    const int workers = qMin(qBound(1, jobs, BatchOptions::kMaxJobs), total);
    if (workers <= 1) {
        worker();
    } else {
        std::vector<TaskPool::TaskHandle> tasks;
        for (int i = 0; i < workers; ++i)
            tasks.push_back(pool.submit(worker));
        for (const TaskPool::TaskHandle &task : tasks)
            pool.wait(task);
    }
    return finishedSlots;
}
