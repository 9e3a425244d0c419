#include "engine/batchengine.h"

#include "web/canceltoken.h"
#include "web/httpsession.h"
#include "web/texthelpers.h"

#include <QLoggingCategory>

#include <mutex>
#include <thread>
#include <vector>

Q_LOGGING_CATEGORY(lcBatch, "brelvon.batch", QtWarningMsg)

QList<BatchRow> runBatch(BuyerQuery &query, const QStringList &ids, const BatchOptions &options,
                         const CancelToken &cancel, const BatchCallbacks &callbacks,
                         bool *cancelled)
{
    const int total = int(ids.size());
    RequestPacer pacer(qMax(0, options.paceMs));
    const auto contextFor = [&](HttpSession *session) {
        FetchContext context;
        context.session = session;
        context.cancel = &cancel;
        context.pacer = options.paceMs > 0 ? &pacer : nullptr;
        return context;
    };

    if (total == 0) { // nothing to look up: not even the configuration is fetched
        if (cancelled)
            *cancelled = cancel.isCancelled();
        return {};
    }
    {
        HttpSession session;
        query.ensureConfiguration(contextFor(&session));
    }

    std::vector<BuyerQueryResult> results(static_cast<size_t>(total));
    std::vector<bool> finishedSlots(size_t(total), false);
    std::mutex mutex; // the next index, the finished count and the callbacks
    int next = 0;
    int finished = 0;

    const auto worker = [&] {
        HttpSession session;
        const FetchContext context = contextFor(&session);
        for (;;) {
            int index;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (next >= total || cancel.isCancelled())
                    return;
                index = next++;
                if (callbacks.started)
                    callbacks.started(finished, total, ids.at(index));
            }
            BuyerQueryResult result = query.queryBuyer(trimSpaces(ids.at(index)), context);
            std::lock_guard<std::mutex> lock(mutex);
            if (cancel.isCancelled())
                return; // a buyer cut short by the cancellation is no row
            qCDebug(lcBatch) << "buyer" << index << "of" << total << "done";
            if (callbacks.done)
                callbacks.done(index, result);
            results[size_t(index)] = std::move(result);
            finishedSlots[size_t(index)] = true;
            ++finished;
        }
    };

    const int jobs = qBound(1, options.jobs, BatchOptions::kMaxJobs);
    if (jobs == 1) {
        worker();
    } else {
        std::vector<std::thread> threads;
        for (int i = 0; i < qMin(jobs, total); ++i)
            threads.emplace_back(worker);
        for (std::thread &t : threads)
            t.join();
    }

    QList<BatchRow> rows;
    rows.reserve(total);
    for (int i = 0; i < total; ++i) {
        if (finishedSlots[size_t(i)])
            rows.append({ids.at(i), results[size_t(i)].record, results[size_t(i)].pages});
    }
    if (cancelled)
        *cancelled = cancel.isCancelled();
    return rows;
}
