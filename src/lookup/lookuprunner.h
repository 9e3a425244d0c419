#pragma once

#include "lookup/connectiontest.h"
#include "lookup/lookupservice.h"

#include <QObject>

#include <functional>
#include <memory>

// Starts a lookup service's work for a front end, on the service's executor, and hands the
// results back on the thread that owns the runner (the window's, or the command line's main
// thread) by queued calls, which are dropped once the runner is gone. One piece of work at a
// time; destroying the runner cancels it and waits for it, which the fetches' short wake-ups
// keep to a fraction of a second.
class LookupRunner : public QObject
{
    Q_OBJECT
public:
    explicit LookupRunner(LookupService *service, QObject *parent = nullptr);
    ~LookupRunner() override;

    // Each start returns false while the previous work is still running.

    // One buyer; done gets the outcome whatever happened (status Cancelled when the work was
    // cancelled). setupReady (optional) is told once the query setup is there and the buyer's
    // own pages are being read, with the area table. pageStarted (optional) is told the name of
    // each page (BuyerPage) as its fetch begins.
    bool lookup(const QString &id, std::function<void(const LookupOutcome &)> done,
                std::function<void(const QString &areaTable)> setupReady = {},
                std::function<void(const QString &page)> pageStarted = {});
    // Several buyers, one after another; each outcome as it comes, then done(cancelled).
    bool lookupEach(const QStringList &ids, std::function<void(const LookupOutcome &)> each,
                    std::function<void(bool cancelled)> done);
    // A batch: started and finished tell its progress (as LookupService::BatchProgress, but on
    // this thread); done gets the outcomes in the order of the ids.
    struct BatchProgress
    {
        std::function<void(int finished, int total, const QString &id)> started;
        std::function<void(int index, const LookupOutcome &outcome)> finished;
        // The marketplace blocked a page: the batch waits `seconds` (why: marker or status).
        std::function<void(int seconds, const QString &why)> paused;
    };
    bool batch(const QStringList &ids, const BatchOptions &options, BatchProgress progress,
               std::function<void(const QList<LookupOutcome> &outcomes, bool cancelled)> done);
    // The start-up list from our web site ("" when there is none).
    bool startupList(std::function<void(const QString &list)> done);
    // The connection test of the hosts the settings name (testConnections), each host's fetches
    // on the service's executor.
    bool
    connectionTest(const QuerySettings &hosts,
                   std::function<void(const QList<ConnectionCheck> &checks, bool cancelled)> done);

    void cancel();
    // A batch starts no further buyer; those in flight finish and are handed over with the rest.
    void stop();
    bool isRunning() const { return m_running; }
    // Waits for the work to end (not for its results to be handed over). After it, the runner
    // may outlive its service.
    void join();

    LookupService *service() const { return m_service; }

private:
    struct Job;
    // Runs work on the executor; what it returns is run on this thread once it is done.
    bool start(std::function<std::function<void()>(Job &job)> work);
    // Runs f on this runner's thread later, unless the runner is gone by then.
    void post(std::function<void()> f);

    LookupService *m_service;
    std::shared_ptr<Job> m_job;
    bool m_running = false;
};
