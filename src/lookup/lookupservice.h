#pragma once

#include "engine/batchengine.h"
#include "engine/querysetup.h"
#include "files/querysettings.h"
#include "lookup/configcache.h"
#include "lookup/localsetup.h"
#include "lookup/pacememory.h"
#include "model/batchoptions.h"
#include "model/batchrow.h"
#include "model/buyerassessment.h"
#include "model/buyerqueryresult.h"
#include "model/lookupstatus.h"
#include "storage/sellerdatabase.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class CancelToken;
class DetailPageBrowser;
class FetchLimits;
class FetchRecorder;
class HttpSession;
class RequestPacer;
class TaskPool;

// Everything a front end shows of one lookup.
struct LookupOutcome
{
    QString id;              // as asked for, surrounding blanks removed
    BuyerQueryResult result; // the record and what each page fetch did (the configuration's
                             // downloads first, when this lookup made them)
    LookupStatus status = LookupStatus::Cancelled;
    QString statusDetail;       // which pages failed, or which hosts were tried and how
    BuyerAssessment assessment; // credit score and level, risk verdict (with the seller's mark)
    BuyerNote note;             // the seller's note and mark on the buyer
    std::optional<StoredLookup> previous; // the buyer's last stored lookup before this one
    QString storageProblem;               // why the lookup could not be recorded, when it could not
    // The stored configuration this lookup used because our site gave none, when it did.
    std::optional<CachedConfiguration> cachedConfiguration;
    // Taken from the history instead of being looked up: how many minutes ago it was (-1: not).
    int reusedMinutes = -1;
    // The settings name no trade-card host: registration time, nick, area and good rate were
    // never asked for.
    bool noTradeCardHost = false;
};

// The batch table's rows of a batch's outcomes: the id as the file has it, the record, the
// pages, the status and the seller's mark and note.
QList<BatchRow> batchRows(const QList<LookupOutcome> &outcomes);

// The one place a lookup runs, under the window and the command line alike. It owns the query
// setup (downloaded once and swapped for a new one only while the configuration is missing), the
// HTTP session and the request pacing, the executor every job, buyer and page chain runs on, the
// hook to the embedded browser, the journal in the seller's database and the assessment.
//
// The blocking calls (lookup, batch, fetchStartupList) run on a worker thread, never on the
// thread of the embedded browser; LookupRunner starts them for a front end and hands the results
// back on its thread. Any number may run at once.
class LookupService
{
public:
    // jobs: the most buyers looked up at once (1 to BatchOptions::kMaxJobs); the executor keeps
    // at most three threads per job.
    explicit LookupService(const QuerySettings &settings, int jobs = 1);
    ~LookupService();
    LookupService(const LookupService &) = delete;
    LookupService &operator=(const LookupService &) = delete;

    // The settings the next lookup runs with.
    QuerySettings settings() const;
    // New settings for the lookups that start from now on (those under way finish with the old
    // ones); the query setup is fetched again for them. The executor keeps its size.
    void setSettings(const QuerySettings &settings);
    int jobs() const { return m_jobs; }

    // Where the last good configuration, area table and start-up list are kept, so lookups go on
    // while our site is down (null: nowhere, the default).
    void setConfigCache(std::shared_ptr<const ConfigCache> cache);
    std::shared_ptr<const ConfigCache> configCache() const;

    // The seller's database: notes and marks go into the verdict, and lookups that say something
    // about the buyer are recorded (when recordHistory). Null: none of it. Set before the first
    // lookup; the database must outlive the service.
    void setDatabase(SellerDatabase *database, bool recordHistory);
    SellerDatabase *database() const { return m_database; }
    bool recordsHistory() const { return m_recordHistory; }
    // Turns recording on or off for the lookups that end from now on (with a database only).
    void setRecordHistory(bool record) { m_recordHistory = record && m_database; }

    // The detail page's loader of last resort (null: none). Set before the first lookup.
    void setBrowser(DetailPageBrowser *browser) { m_browser = browser; }
    DetailPageBrowser *browser() const { return m_browser; }

    // A configuration and/or area table from local files, used instead of the downloads (what
    // it lacks is downloaded as usual; with a local configuration the area table is downloaded
    // once). Set before the first lookup.
    void setLocalSetup(const LocalSetup &local);
    // The local configuration's file, empty when it is downloaded.
    QString localConfigPath() const { return m_local.configPath; }
    // Told every page body the lookups receive (null: none). Set before the first lookup.
    void setFetchRecorder(FetchRecorder *recorder) { m_recorder = recorder; }
    // Told the name of each page (BuyerPage) as its fetch begins, on the fetching thread.
    using PageWatch = std::function<void(const QString &page)>;

    // Looks up one buyer: the setup first (fetched while the configuration is missing), then
    // the buyer's pages, the status, the verdict, the journal. setupReady (optional) is told
    // between the two, unless the lookup was cancelled meanwhile. The lookup ends by the
    // settings' lookupTimeoutSec whatever its hosts do; a host that timed out is not waited on
    // again in it.
    LookupOutcome lookup(const QString &id, const CancelToken &cancel,
                         const std::function<void(const QuerySetup &)> &setupReady = {},
                         const PageWatch &pageStarted = {});

    // Told as a batch goes, one call at a time, from the batch's threads.
    struct BatchProgress
    {
        std::function<void(int finished, int total, const QString &id)> started;
        std::function<void(int index, const LookupOutcome &outcome)> done;
        // Asked before each buyer starts: true stops the batch, the buyers in flight finishing.
        std::function<bool()> stopRequested;
        // The marketplace blocked a page: every request waits `seconds` (why: the block marker
        // or the HTTP status).
        std::function<void(int seconds, const QString &why)> paused;
    };
    // Looks up every id (the setup is fetched once, before the first buyer) and returns the
    // outcomes in the order of the ids. A cancelled batch returns the buyers finished before the
    // cancellation, with *cancelled set; a stopped one the buyers finished, those in flight when
    // it stopped included. *indexes (optional) gets each outcome's place in the ids.
    //
    // The batch keeps to the marketplace's pace (BatchPacing: a blocked page pauses it, blocked
    // buyers are tried again after the pause); a host found silent is probed by one lookup at a
    // time while the others do not wait on it. With a journal in the options, the rows it holds
    // are taken from it and every row that finishes is added to it. With reuseWithinMinutes,
    // buyers found or not found that recently are taken from the history.
    QList<LookupOutcome> batch(const QStringList &ids, const BatchOptions &options,
                               const CancelToken &cancel, const BatchProgress &progress = {},
                               bool *cancelled = nullptr, QList<int> *indexes = nullptr);

    // The pacing batch() makes for these options, for batches in a row to share
    // (BatchOptions::pacing), on the service's pace.
    std::shared_ptr<BatchPacing> makePacing(const BatchOptions &options) const;

    // The pace of the requests to each host, one for every batch and lookup of the service: what
    // one batch learnt of the marketplace holds for the next.
    std::shared_ptr<RequestPacer> pacer() const { return m_pacer; }
    // Keeps the pace in a file for the next run (the settings' paceMemoryHours): the paces kept
    // there for these hosts are taken now, and the pace is saved whenever it moves.
    void keepPace(const QString &path);
    // The pace in use and the time left from it, for a batch's progress line ("约每分钟 40 页，
    // 预计还需 3 分 12 秒"); while no pace is learnt, the time left from the buyers finished so
    // far.
    // "" before any estimate.
    QString paceProgressText(qint64 elapsedMs, int finished, int left) const;
    // Batches running now (any front end's).
    int batchesRunning() const { return m_batchesRunning; }

    // The outcome again after the seller changed the buyer's note or mark: the note re-read and
    // the verdict assessed anew.
    LookupOutcome reassess(const LookupOutcome &outcome) const;

    // The start-up list from our web site (main host, else the second), "" when neither gives
    // one.
    QString fetchStartupList(const CancelToken &cancel);

    // The setup the next lookup starts from.
    QuerySetupPtr setup() const;
    // The setup, fetched now while the configuration is missing (what the fetches did goes to
    // *pages).
    QuerySetupPtr prepareSetup(const CancelToken &cancel, PageResults *pages);

    TaskPool &pool() { return *m_pool; }

    // Told every lookup that ended, not cancelled (a batch's buyers too), on the thread that ran
    // it. Safe to change while lookups run.
    using LookupListener = std::function<void(const LookupOutcome &outcome)>;
    void setLookupListener(LookupListener listener);

private:
    // The setup a lookup runs with, with the settings it was made for and the stored
    // configuration standing in for a download, if one does.
    struct SetupState
    {
        QuerySetupPtr setup;
        QuerySettings settings;
        std::optional<CachedConfiguration> cachedConfiguration;
    };
    // id: trimmed already.
    LookupOutcome lookUpWith(const QString &id, const SetupState &state,
                             const PageResults &setupPages, const CancelToken &cancel,
                             RequestPacer *pacer, FetchLimits *limits,
                             const PageWatch *pageStarted = nullptr, bool pacerPauses = true);
    SetupState ensureSetup(const CancelToken &cancel, RequestPacer *pacer, FetchLimits *limits,
                           PageResults *pages, const PageWatch *pageStarted = nullptr);
    // The buyer's lookup of the last minutes from the history, when there is one.
    std::optional<LookupOutcome> recentLookup(const QString &id, int withinMinutes,
                                              const RiskSettings &risk) const;
    SetupState currentState() const;
    BuyerAssessment assess(const BuyerQueryResult &result, const BuyerNote &note,
                           const RiskSettings &risk) const;

    QuerySettings m_settings; // guarded by m_setupMutex
    const int m_jobs;
    std::unique_ptr<HttpSession> m_session;
    std::unique_ptr<TaskPool> m_pool;
    DetailPageBrowser *m_browser = nullptr;
    SellerDatabase *m_database = nullptr;
    std::atomic<bool> m_recordHistory{false};
    std::atomic<int> m_batchesRunning{0};

    mutable std::mutex m_setupMutex; // guards the settings, the setup and the cache
    std::mutex m_fetchSetupMutex;    // one download of the setup at a time
    QuerySetupPtr m_setup;
    std::optional<CachedConfiguration> m_cachedConfiguration; // standing in for a download
    std::chrono::steady_clock::time_point m_cachedSince;      // when it began to
    quint64 m_settingsGeneration = 0; // counts setSettings: a setup of older settings is dropped
    std::shared_ptr<const ConfigCache> m_cache;

    // Local files instead of the downloads (setLocalSetup).
    // Where this service's fetches run: its session and recorder, the job's cancellation and
    // pacing, and who hears of each page.
    FetchContext fetchContext(const CancelToken &cancel, RequestPacer *pacer, FetchLimits *limits,
                              const PageWatch *pageStarted, bool pacerPauses = true) const;
    QuerySetupPtr ensureLocalSetup(const QuerySettings &settings, const LocalSetup &local,
                                   const CancelToken &cancel, RequestPacer *pacer,
                                   FetchLimits *limits, PageResults *pages,
                                   const PageWatch *pageStarted);
    // The setup with the local files in place of what they stand for.
    static QuerySetupPtr withLocalFiles(const QuerySetupPtr &setup, const LocalSetup &local,
                                        const QuerySettings &settings);
    LocalSetup m_local;                               // guarded by m_setupMutex
    std::atomic<bool> m_localAreaTableFetched{false}; // set under both mutexes
    FetchRecorder *m_recorder = nullptr;
    // The outcome to every listener, unless cancelled.
    void tellFinished(const LookupOutcome &outcome);
    std::mutex m_listenerMutex;
    LookupListener m_listener;

    // The pace, and where it is kept between runs.
    void savePace();
    const std::shared_ptr<RequestPacer> m_pacer;
    std::mutex m_paceMutex; // guards the two below
    std::optional<PaceMemory> m_paceMemory;
    quint64 m_savedPace = 0; // the pacer's generation last saved
    int m_paceListener = 0;
    // Buyer pages asked for and the buyers they belong to: pages a buyer, for the time left.
    std::atomic<qint64> m_pagesAsked{0};
    std::atomic<qint64> m_buyersAsked{0};
};

Q_DECLARE_METATYPE(LookupOutcome)
