#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The one executor of a lookup service: jobs, buyers and a buyer's page chains all run on its
// threads, at most maxThreads of them, started when first needed. A task that waits for a task
// it submitted runs that task itself when no thread has taken it yet, so nested work (a batch
// waiting for its buyers, a buyer for its page chains) never deadlocks however few threads there
// are, and the number of threads that fetch at once never exceeds maxThreads.
class TaskPool
{
public:
    class Task;
    using TaskHandle = std::shared_ptr<Task>;

    explicit TaskPool(int maxThreads);
    // Waits for the tasks under way; tasks nobody has started are run first (each job checks its
    // own cancellation, so they end quickly once their jobs are cancelled).
    ~TaskPool();
    TaskPool(const TaskPool &) = delete;
    TaskPool &operator=(const TaskPool &) = delete;

    TaskHandle submit(std::function<void()> work);
    // Returns once the task has run: here, at once, when no thread has taken it yet.
    void wait(const TaskHandle &task);
    // Whether the task has run to its end.
    static bool isDone(const TaskHandle &task);

    int maxThreads() const { return m_maxThreads; }
    // The most threads the pool has had, and the most tasks that ran at once (for benchmarks).
    int threadCount() const;
    int peakRunning() const;

private:
    void workerLoop();

    const int m_maxThreads;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<TaskHandle> m_queue;
    std::vector<std::thread> m_threads;
    int m_idle = 0;
    int m_running = 0;
    int m_peakRunning = 0;
    bool m_stopping = false;
};
