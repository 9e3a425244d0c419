#include "lookup/backgroundjob.h"

#include <QPointer>

BackgroundJob::BackgroundJob(QObject *parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob()
{
    cancel();
    join();
}

bool BackgroundJob::start(Work work, std::function<void()> done)
{
    if (m_running)
        return false;
    join(); // the previous thread has delivered its result; let it go
    m_running = true;
    m_cancel = makeCancelToken();
    m_thread = std::thread(
        [this, cancel = m_cancel, work = std::move(work), done = std::move(done)]() mutable {
            work(*cancel);
            // Delivered on our owner's thread; dropped with us if we are destroyed first.
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done)] {
                    m_running = false;
                    if (done)
                        done();
                },
                Qt::QueuedConnection);
        });
    return true;
}

void BackgroundJob::cancel()
{
    if (m_cancel)
        m_cancel->cancel();
}

void BackgroundJob::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
