#include "engine/batchengine.h"

#include "engine/taskpool.h"
#include "web/canceltoken.h"

#include <QLoggingCategory>

#include <mutex>

Q_LOGGING_CATEGORY(lcBatch, "brelvon.batch", QtWarningMsg)

std::vector<bool> runBatch(TaskPool &pool, const QStringList &ids, int jobs,
                           const CancelToken &cancel, const std::function<void(int index)> &lookUp,
                           const BatchCallbacks &callbacks)
{
    const int total = int(ids.size());
    std::vector<bool> finishedSlots(size_t(total), false);
    std::mutex mutex; // the next index, the finished count and the callbacks
    int next = 0;
    int finished = 0;

    const auto worker = [&] {
        for (;;) {
            int index;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (next >= total || cancel.isCancelled() ||
                    (callbacks.stopRequested && callbacks.stopRequested()))
                    return;
                index = next++;
                if (callbacks.started)
                    callbacks.started(finished, total, ids.at(index));
            }
            lookUp(index);
            std::lock_guard<std::mutex> lock(mutex);
            if (cancel.isCancelled())
                return; // a buyer cut short by the cancellation is no row
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
