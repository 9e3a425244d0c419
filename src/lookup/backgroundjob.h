#pragma once

#include "web/canceltoken.h"

#include <QObject>

#include <functional>
#include <thread>

// One piece of blocking work (a buyer query, a batch, the start-up list) on a thread of its own,
// with its own cancellation. `done` runs afterwards on the thread that owns the job (the window's),
// by a queued call, unless the job was destroyed first. Destroying a job cancels it and waits
// for its thread, which the fetches' short wake-ups keep to a fraction of a second.
class BackgroundJob : public QObject
{
    Q_OBJECT
public:
    explicit BackgroundJob(QObject *parent = nullptr);
    ~BackgroundJob() override;

    using Work = std::function<void(const CancelToken &cancel)>;
    // False while the previous work is still running.
    bool start(Work work, std::function<void()> done = {});
    void cancel();
    bool isRunning() const { return m_running; }
    // Waits for the thread to end (not for `done`); true once it has.
    void join();

private:
    std::thread m_thread;
    CancelTokenPtr m_cancel;
    bool m_running = false;
};
