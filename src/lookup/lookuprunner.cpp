#include "lookup/lookuprunner.h"

#include "engine/taskpool.h"
#include "web/canceltoken.h"

#include <atomic>
#include <utility>

struct LookupRunner::Job
{
    CancelToken cancel;
    std::atomic<bool> stop{false};
    TaskPool::TaskHandle task;
};

LookupRunner::LookupRunner(LookupService *service, QObject *parent)
    : QObject(parent), m_service(service)
{
}

LookupRunner::~LookupRunner()
{
    cancel();
    join();
}

void LookupRunner::cancel()
{
    if (m_job)
        m_job->cancel.cancel();
}

void LookupRunner::stop()
{
    if (m_job)
        m_job->stop.store(true);
}

void LookupRunner::join()
{
    // Once the work has ended the runner no longer needs the service: the service may go first.
    if (m_job)
        m_service->pool().wait(std::exchange(m_job, nullptr)->task);
}

void LookupRunner::post(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

bool LookupRunner::start(std::function<std::function<void()>(Job &job)> work)
{
    if (m_running)
        return false;
    join(); // the previous work has delivered its results; let it go
    m_running = true;
    auto job = std::make_shared<Job>();
    m_job = job;
    job->task = m_service->pool().submit([this, job, work = std::move(work)] {
        std::function<void()> deliver = work(*job);
        // The runner is free again by the time the results arrive.
        post([this, deliver = std::move(deliver)] {
            m_running = false;
            if (deliver)
                deliver();
        });
    });
    return true;
}

bool LookupRunner::lookup(const QString &id, std::function<void(const LookupOutcome &)> done,
                          std::function<void(const QString &areaTable)> setupReady,
                          std::function<void(const QString &page)> pageStarted)
{
    LookupService *service = m_service;
    return start([this, service, id, done = std::move(done), setupReady = std::move(setupReady),
                  pageStarted = std::move(pageStarted)](Job &job) -> std::function<void()> {
        std::function<void(const QuerySetup &)> ready;
        if (setupReady)
            ready = [this, setupReady](const QuerySetup &setup) {
                post([setupReady, areaTable = setup.areaTable] { setupReady(areaTable); });
            };
        LookupService::PageWatch watch;
        if (pageStarted)
            watch = [this, pageStarted](const QString &page) {
                post([pageStarted, page] { pageStarted(page); });
            };
        LookupOutcome outcome = service->lookup(id, job.cancel, ready, watch);
        return [done, outcome = std::move(outcome)] { done(outcome); };
    });
}

bool LookupRunner::lookupEach(const QStringList &ids,
                              std::function<void(const LookupOutcome &)> each,
                              std::function<void(bool cancelled)> done)
{
    LookupService *service = m_service;
    return start([this, service, ids, each = std::move(each),
                  done = std::move(done)](Job &job) -> std::function<void()> {
        for (const QString &id : ids) {
            LookupOutcome outcome = service->lookup(id, job.cancel);
            if (job.cancel.isCancelled())
                break; // a buyer cut short is not handed over
            post([each, outcome = std::move(outcome)] { each(outcome); });
        }
        return [done, cancelled = job.cancel.isCancelled()] { done(cancelled); };
    });
}

bool LookupRunner::batch(
    const QStringList &ids, const BatchOptions &options, BatchProgress progress,
    std::function<void(const QList<LookupOutcome> &outcomes, bool cancelled)> done)
{
    LookupService *service = m_service;
    return start([this, service, ids, options, progress = std::move(progress),
                  done = std::move(done)](Job &job) -> std::function<void()> {
        LookupService::BatchProgress told;
        if (progress.started)
            told.started = [this, started = progress.started](int finished, int total,
                                                              const QString &id) {
                post([started, finished, total, id] { started(finished, total, id); });
            };
        if (progress.finished)
            told.done = [this, finished = progress.finished](int index,
                                                             const LookupOutcome &outcome) {
                post([finished, index, outcome] { finished(index, outcome); });
            };
        if (progress.paused)
            told.paused = [this, paused = progress.paused](int seconds, const QString &why) {
                post([paused, seconds, why] { paused(seconds, why); });
            };
        told.stopRequested = [&job] { return job.stop.load(); };
        bool cancelled = false;
        QList<LookupOutcome> outcomes = service->batch(ids, options, job.cancel, told, &cancelled);
        return [done, outcomes = std::move(outcomes), cancelled] { done(outcomes, cancelled); };
    });
}

bool LookupRunner::startupList(std::function<void(const QString &list)> done)
{
    LookupService *service = m_service;
    return start([service, done = std::move(done)](Job &job) -> std::function<void()> {
        const QString list = service->fetchStartupList(job.cancel);
        return [done, list] { done(list); };
    });
}

bool LookupRunner::connectionTest(
    const QuerySettings &hosts,
    std::function<void(const QList<ConnectionCheck> &checks, bool cancelled)> done)
{
    LookupService *service = m_service;
    return start([service, hosts, done = std::move(done)](Job &job) -> std::function<void()> {
        QList<ConnectionCheck> checks = testConnections(hosts, job.cancel, service->pool());
        return [done, checks = std::move(checks), cancelled = job.cancel.isCancelled()] {
            done(checks, cancelled);
        };
    });
}
