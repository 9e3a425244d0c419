#include "engine/taskpool.h"

#include <QtGlobal>

#include <atomic>

class TaskPool::Task
{
public:
    explicit Task(std::function<void()> work) : m_work(std::move(work)) {}

    // Pending -> running, for exactly one taker: a pool thread or the waiter.
    bool claim()
    {
        int pending = 0;
        return m_state.compare_exchange_strong(pending, 1);
    }
    void run()
    {
        m_work();
        m_work = nullptr; // what it captured goes now, not with the last handle
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = 2;
        m_done.notify_all();
    }
    void waitDone()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_state.load() == 2; });
    }
    bool isDone() const { return m_state.load() == 2; }

private:
    std::function<void()> m_work;
    std::atomic<int> m_state{0}; // 0 pending, 1 running, 2 done
    std::mutex m_mutex;
    std::condition_variable m_done;
};

TaskPool::TaskPool(int maxThreads) : m_maxThreads(qMax(1, maxThreads)) {}

TaskPool::~TaskPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
    // Whatever no thread took (a pool without threads left) runs here.
    for (const TaskHandle &task : m_queue) {
        if (task->claim())
            task->run();
    }
}

TaskPool::TaskHandle TaskPool::submit(std::function<void()> work)
{
    auto task = std::make_shared<Task>(std::move(work));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(task);
        // A thread for every task no idle thread will take, up to the limit.
        if (qsizetype(m_queue.size()) > m_idle && int(m_threads.size()) < m_maxThreads &&
            !m_stopping)
            m_threads.emplace_back([this] { workerLoop(); });
    }
    m_wake.notify_one();
    return task;
}

void TaskPool::wait(const TaskHandle &task)
{
    if (!task)
        return;
    if (task->claim()) {
        // Nobody has taken it: run it on this thread rather than wait for a free one.
        task->run();
        return;
    }
    task->waitDone();
}

bool TaskPool::isDone(const TaskHandle &task)
{
    return !task || task->isDone();
}

void TaskPool::workerLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_stopping && m_queue.empty()) {
            ++m_idle;
            m_wake.wait(lock);
            --m_idle;
        }
        if (m_queue.empty())
            return; // stopping, and nothing left to run
        TaskHandle task = std::move(m_queue.front());
        m_queue.pop_front();
        if (!task->claim())
            continue; // its waiter ran it already
        m_peakRunning = qMax(m_peakRunning, ++m_running);
        lock.unlock();
        task->run();
        task.reset();
        lock.lock();
        --m_running;
    }
}

int TaskPool::threadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_threads.size());
}

int TaskPool::peakRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peakRunning;
}
