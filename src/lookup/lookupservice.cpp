#include "lookup/lookupservice.h"

#include "engine/blockmarkers.h"
#include "engine/buyerquery.h"
#include "engine/pagefetch.h"
#include "engine/taskpool.h"
#include "files/batchjournal.h"
#include "model/uilanguage.h"
#include "storage/historytext.h"
#include "web/canceltoken.h"
#include "web/fetchclock.h"
#include "web/fetchlimits.h"
#include "web/httpsession.h"
#include "web/texthelpers.h"

#include <QDate>

#include <algorithm>

namespace {

bool hasAnyHost(const QuerySettings &settings)
{
    return !isBlank(settings.mainHost) || !isBlank(settings.secondHost) ||
           !isBlank(settings.tradeCardHost);
}

// Which downloads of the configuration were tried and how each ended.
QString configurationAttempts(const PageResults &pages)
{
    if (!englishMessages()) {
        const QString tried = configurationAttemptsText(pages);
        return tried.isEmpty() ? QStringLiteral("没有设置我们网站的主机") : tried;
    }
    QStringList tried;
    for (const PageResult &page : pages) {
        if (page.page != BuyerPage::Config)
            continue;
        tried.append(page.address + QStringLiteral(": ") +
                     (page.outcome == PageOutcome::Ok ? QStringLiteral("not a query configuration")
                                                      : page.outcomeText()));
    }
    if (tried.isEmpty())
        return QStringLiteral("no host is set for our web site");
    return tried.join(QStringLiteral("; "));
}

// The area table alone, from the main host, else the second (as with the configuration).
QString fetchAreaTable(const QuerySettings &settings, const FetchContext &context,
                       PageResults *pages)
{
    QString table = fetchInto(*pages, BuyerPage::AreaTable,
                              hostAddress(settings.mainHost, QStringLiteral("/soft/qvdl/city.txt")),
                              FetchWait::Long, context);
    if (!table.contains(QStringLiteral("广东")))
        table = fetchInto(*pages, BuyerPage::AreaTable,
                          hostAddress(settings.secondHost, QStringLiteral("/soft/qvdl/city.txt")),
                          FetchWait::Long, context);
    return table;
}

} // namespace

LookupService::LookupService(const QuerySettings &settings, int jobs)
    : m_settings(settings), m_jobs(qBound(1, jobs, BatchOptions::kMaxJobs)),
      m_session(std::make_unique<HttpSession>(settings.network)),
      // Three threads a job: a buyer's three page chains at once.
      m_pool(std::make_unique<TaskPool>(3 * m_jobs)), m_setup(initialQuerySetup(settings)),
      m_pacer(std::make_shared<RequestPacer>(settings.batchPaceMs, settings.blockedPauseSec))
{
}

LookupService::~LookupService()
{
    if (m_paceListener != 0)
        m_pacer->removePauseListener(m_paceListener);
    savePace();
}

void LookupService::setDatabase(SellerDatabase *database, bool recordHistory)
{
    m_database = database;
    m_recordHistory = recordHistory && database;
}

QuerySettings LookupService::settings() const
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    return m_settings;
}

void LookupService::setSettings(const QuerySettings &settings)
{
    m_pacer->setLeastGapMs(settings.batchPaceMs);
    m_pacer->setFirstPauseSec(settings.blockedPauseSec);
    if (PaceMemory::hostsKey(settings) != PaceMemory::hostsKey(this->settings())) {
        // Other hosts: what was learnt of the old ones says nothing of them.
        m_pacer->reset();
        std::lock_guard<std::mutex> lock(m_paceMutex);
        if (m_paceMemory && settings.paceMemoryHours > 0)
            m_pacer->setPaces(m_paceMemory->load(settings, fetchClockNow()));
        m_savedPace = m_pacer->generation();
    }
    std::lock_guard<std::mutex> lock(m_setupMutex);
    m_settings = settings;
    m_session->setNetwork(settings.network); // the proxy too, from the next request on
    m_setup = initialQuerySetup(settings);
    m_cachedConfiguration.reset();
    ++m_settingsGeneration;
    // The local files stay in force under the new settings.
    m_setup = withLocalFiles(m_setup, m_local, m_settings);
    m_localAreaTableFetched = false;
}

void LookupService::setConfigCache(std::shared_ptr<const ConfigCache> cache)
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    m_cache = std::move(cache);
}

std::shared_ptr<const ConfigCache> LookupService::configCache() const
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    return m_cache;
}

QuerySetupPtr LookupService::setup() const
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    return m_setup;
}

LookupService::SetupState LookupService::currentState() const
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    return {m_setup, m_settings, m_cachedConfiguration};
}

LookupService::SetupState LookupService::ensureSetup(const CancelToken &cancel, RequestPacer *pacer,
                                                     FetchLimits *limits, PageResults *pages,
                                                     const PageWatch *pageStarted)
{
    // A stored configuration stands in for a while; then our site is asked again.
    constexpr auto kRetryAfter = std::chrono::minutes(10);
    // One download at a time: a lookup that waited here finds the configuration there.
    std::lock_guard<std::mutex> fetching(m_fetchSetupMutex);
    LocalSetup local;
    {
        std::lock_guard<std::mutex> lock(m_setupMutex);
        local = m_local;
    }
    if (!local.isEmpty()) { // local files instead of (some of) the downloads
        SetupState state = currentState();
        state.setup =
            ensureLocalSetup(state.settings, local, cancel, pacer, limits, pages, pageStarted);
        state.cachedConfiguration.reset();
        return state;
    }
    SetupState state;
    quint64 generation = 0;
    std::shared_ptr<const ConfigCache> cache;
    {
        std::lock_guard<std::mutex> lock(m_setupMutex);
        state = {m_setup, m_settings, m_cachedConfiguration};
        generation = m_settingsGeneration;
        cache = m_cache;
        if (m_setup->hasConfiguration() &&
            (!m_cachedConfiguration ||
             std::chrono::steady_clock::now() - m_cachedSince < kRetryAfter))
            return state;
    }
    const FetchContext context = fetchContext(cancel, pacer, limits, pageStarted);
    // A stored configuration in use is not what a new download starts from.
    const QuerySetupPtr from =
        state.cachedConfiguration ? initialQuerySetup(state.settings) : state.setup;
    PageResults fetchedPages;
    QuerySetupPtr fetched = fetchQuerySetup(state.settings, from, context, &fetchedPages);
    *pages += fetchedPages;
    std::optional<CachedConfiguration> cached;
    if (cache && !cancel.isCancelled()) {
        SetupWithCopies withCopies = keepOrUseStoredCopies(
            *cache, state.settings, fetched, fetchedPages, QDateTime::currentDateTimeUtc());
        fetched = withCopies.setup;
        cached = withCopies.cachedConfiguration;
    }
    std::lock_guard<std::mutex> lock(m_setupMutex);
    state.setup = fetched;
    state.cachedConfiguration = cached;
    // Settings changed meanwhile: this setup was made for the old ones; the next lookup fetches
    // the new one.
    if (generation != m_settingsGeneration)
        return state;
    m_setup = fetched;
    m_cachedConfiguration = cached;
    if (cached)
        m_cachedSince = std::chrono::steady_clock::now();
    return state;
}

QuerySetupPtr LookupService::withLocalFiles(const QuerySetupPtr &setup, const LocalSetup &local,
                                            const QuerySettings &settings)
{
    if (local.isEmpty())
        return setup;
    auto changed = std::make_shared<QuerySetup>(*setup);
    if (local.config) {
        changed->config = *local.config;
        changed->blockMarkers = settings.blockMarkers + configBlockMarkers(changed->config);
    }
    if (local.areaTable)
        changed->areaTable = *local.areaTable;
    return changed;
}

void LookupService::setLocalSetup(const LocalSetup &local)
{
    std::lock_guard<std::mutex> lock(m_setupMutex);
    m_local = local;
    m_setup = withLocalFiles(m_setup, m_local, m_settings);
}

// With a local configuration only the area table is downloaded (once); with a local area table
// alone the configuration is downloaded as usual and the local table replaces the downloaded one.
QuerySetupPtr LookupService::ensureLocalSetup(const QuerySettings &settings,
                                              const LocalSetup &local, const CancelToken &cancel,
                                              RequestPacer *pacer, FetchLimits *limits,
                                              PageResults *pages, const PageWatch *pageStarted)
{
    QuerySetupPtr current;
    quint64 generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_setupMutex);
        current = m_setup;
        generation = m_settingsGeneration;
    }
    if (current->hasConfiguration() && (local.areaTable || m_localAreaTableFetched))
        return current;
    const FetchContext context = fetchContext(cancel, pacer, limits, pageStarted);
    std::shared_ptr<QuerySetup> setup;
    bool areaTableFetched = false;
    if (local.config) {
        setup = std::make_shared<QuerySetup>(*current);
        setup->areaTable = fetchAreaTable(settings, context, pages);
        areaTableFetched = !cancel.isCancelled();
    } else {
        setup = std::make_shared<QuerySetup>(*fetchQuerySetup(settings, current, context, pages));
        setup->areaTable = *local.areaTable;
    }
    std::lock_guard<std::mutex> lock(m_setupMutex);
    // Settings changed meanwhile: this setup was made for the old ones; the next lookup makes
    // the new one.
    if (generation == m_settingsGeneration) {
        m_setup = setup;
        m_localAreaTableFetched = areaTableFetched || m_localAreaTableFetched;
    }
    return setup;
}

FetchContext LookupService::fetchContext(const CancelToken &cancel, RequestPacer *pacer,
                                         FetchLimits *limits, const PageWatch *pageStarted,
                                         bool pacerPauses) const
{
    FetchContext context;
    context.pacerPauses = pacerPauses;
    context.session = m_session.get();
    context.recorder = m_recorder;
    context.cancel = &cancel;
    context.pacer = pacer;
    context.limits = limits;
    context.pageStarted = pageStarted;
    return context;
}

QuerySetupPtr LookupService::prepareSetup(const CancelToken &cancel, PageResults *pages)
{
    FetchLimits limits(fetchClockNow() + qint64(settings().lookupTimeoutSec) * 1000);
    return ensureSetup(cancel, nullptr, &limits, pages).setup;
}

BuyerAssessment LookupService::assess(const BuyerQueryResult &result, const BuyerNote &note,
                                      const RiskSettings &risk) const
{
    const SellerNotes seller = sellerNotes(note);
    return assessBuyer(result, risk, QDate::currentDate(), &seller);
}

LookupOutcome LookupService::lookUpWith(const QString &id, const SetupState &state,
                                        const PageResults &setupPages, const CancelToken &cancel,
                                        RequestPacer *pacer, FetchLimits *limits,
                                        const PageWatch *pageStarted, bool pacerPauses)
{
    const QuerySetupPtr &setup = state.setup;
    LookupOutcome outcome;
    outcome.id = id;
    const FetchContext context = fetchContext(cancel, pacer, limits, pageStarted, pacerPauses);
    outcome.result =
        queryBuyer(*setup, state.settings, outcome.id, context, m_browser, m_pool.get());
    const auto asked = std::count_if(outcome.result.pages.cbegin(), outcome.result.pages.cend(),
                                     [](const PageResult &page) { return page.sentAtMs > 0; });
    if (asked > 0) {
        m_pagesAsked += asked;
        ++m_buyersAsked;
    }
    outcome.cachedConfiguration = state.cachedConfiguration;
    outcome.result.pages = setupPages + outcome.result.pages;
    outcome.noTradeCardHost = isBlank(state.settings.tradeCardHost);

    if (cancel.isCancelled()) {
        outcome.status = LookupStatus::Cancelled;
    } else if (!setup->hasConfiguration()) {
        outcome.status = LookupStatus::NoConfiguration;
        outcome.statusDetail = configurationAttempts(setupPages);
        // A kept copy that is too old did not stand in: say so, or the download's error is all.
        if (const std::shared_ptr<const ConfigCache> cache = configCache()) {
            const QString aged =
                agedOutCopyText(*cache, state.settings, QDateTime::currentDateTimeUtc());
            if (!aged.isEmpty())
                outcome.statusDetail +=
                    inUserLanguage(QStringLiteral("；"), QStringLiteral("; ")) + aged;
        }
    } else {
        outcome.status =
            buyerPagesStatus(outcome.result.pages, outcome.result.listed, &outcome.statusDetail);
    }

    if (m_database && outcome.status != LookupStatus::Cancelled) {
        outcome.note = m_database->note(outcome.id);
        outcome.previous = m_database->lastLookup(outcome.id);
        // Only a lookup that says something about the buyer goes into the history.
        if (m_recordHistory && isLookedUp(outcome.status) && !m_database->addLookup(outcome.result))
            outcome.storageProblem = m_database->problem();
    }
    outcome.assessment = assess(outcome.result, outcome.note, state.settings.risk);
    tellFinished(outcome);
    return outcome;
}

void LookupService::setLookupListener(LookupListener listener)
{
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_listener = std::move(listener);
}

void LookupService::tellFinished(const LookupOutcome &outcome)
{
    if (outcome.status == LookupStatus::Cancelled)
        return;
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    if (m_listener)
        m_listener(outcome);
}

LookupOutcome LookupService::lookup(const QString &id, const CancelToken &cancel,
                                    const std::function<void(const QuerySetup &)> &setupReady,
                                    const PageWatch &pageStarted)
{
    const QString buyerId = trimSpaces(id);
    const QuerySettings settings = this->settings();
    if (!hasAnyHost(settings)) {
        // Nowhere to ask: no request at all.
        if (setupReady && !cancel.isCancelled())
            setupReady(*setup());
        LookupOutcome outcome;
        outcome.id = buyerId;
        outcome.result.record.buyerId = outcome.id;
        outcome.status = LookupStatus::NotConfigured;
        outcome.statusDetail = inUserLanguage(QStringLiteral("设置中没有任何主机"),
                                              QStringLiteral("the settings name no host"));
        if (m_database)
            outcome.note = m_database->note(outcome.id);
        outcome.assessment = assess(outcome.result, outcome.note, settings.risk);
        tellFinished(outcome);
        return outcome;
    }
    PageResults setupPages;
    const PageWatch *watch = pageStarted ? &pageStarted : nullptr;
    // The deadline counts from here: the setup's downloads are part of the lookup.
    FetchLimits limits(fetchClockNow() + qint64(settings.lookupTimeoutSec) * 1000);
    const SetupState state = ensureSetup(cancel, nullptr, &limits, &setupPages, watch);
    if (setupReady && !cancel.isCancelled())
        setupReady(*state.setup);
    // The seller's own lookup keeps to the pace's slots and teaches it, but a batch's pause does
    // not hold it back.
    return lookUpWith(buyerId, state, setupPages, cancel, m_pacer.get(), &limits, watch, false);
}

QList<LookupOutcome> LookupService::batch(const QStringList &ids, const BatchOptions &options,
                                          const CancelToken &cancel, const BatchProgress &progress,
                                          bool *cancelled, QList<int> *indexes)
{
    QList<LookupOutcome> outcomes;
    if (ids.isEmpty()) { // nothing to look up: not even the configuration is fetched
        if (cancelled)
            *cancelled = cancel.isCancelled();
        return outcomes;
    }
    const QuerySettings settings = this->settings();
    std::vector<LookupOutcome> results(size_t(ids.size()));
    // Rows a journal kept from an earlier run are not looked up again.
    std::vector<bool> journalled(size_t(ids.size()), false);
    if (BatchJournal *journal = options.journal) {
        for (const JournalRow &row : journal->rows()) {
            // A row that failed or was blocked is looked up again.
            if (row.index < 0 || row.index >= ids.size() || !isLookedUp(row.status))
                continue;
            LookupOutcome &outcome = results[size_t(row.index)];
            outcome.id = row.id;
            outcome.result = row.result;
            outcome.status = row.status;
            outcome.statusDetail = row.statusDetail;
            outcome.reusedMinutes = row.reusedMinutes;
            outcome = reassess(outcome);
            journalled[size_t(row.index)] = true;
        }
    }
    const bool everyRowJournalled =
        std::find(journalled.begin(), journalled.end(), false) == journalled.end();

    const std::shared_ptr<BatchPacing> shared =
        options.pacing ? options.pacing : makePacing(options);
    BatchPacing &pacing = *shared;
    pacing.setPausedListener(progress.paused);
    ++m_batchesRunning;
    SilentHosts silentHosts;
    const qint64 timeoutMs = qint64(settings.lookupTimeoutSec) * 1000;
    // The setup is fetched once for the whole batch; its downloads go with no buyer's pages.
    const bool hosts = hasAnyHost(settings);
    PageResults setupPages;
    SetupState state = currentState();
    if (hosts && !everyRowJournalled) {
        FetchLimits limits(fetchClockNow() + timeoutMs, &silentHosts);
        state = ensureSetup(cancel, &pacing.pacer(), &limits, &setupPages);
    }

    BatchCallbacks callbacks;
    callbacks.started = progress.started;
    callbacks.stopRequested = progress.stopRequested;
    callbacks.done = [&](int index) {
        const LookupOutcome &outcome = results[size_t(index)];
        if (options.journal)
            options.journal->append({index, ids.at(index), outcome.result, outcome.status,
                                     outcome.statusDetail, outcome.reusedMinutes});
        if (progress.done)
            progress.done(index, outcome);
    };
    const auto lookUp = [&](int index, int attempt) {
        if (attempt == 1 && settings.reuseWithinMinutes > 0) {
            if (std::optional<LookupOutcome> recent =
                    recentLookup(ids.at(index), settings.reuseWithinMinutes, settings.risk)) {
                results[size_t(index)] = std::move(*recent);
                return BatchTry::Done;
            }
        }
        LookupOutcome outcome;
        if (hosts) {
            FetchLimits limits(fetchClockNow() + timeoutMs, &silentHosts);
            outcome =
                lookUpWith(trimSpaces(ids.at(index)), state, {}, cancel, &pacing.pacer(), &limits);
        } else {
            outcome = lookup(ids.at(index), cancel);
        }
        if (outcome.status == LookupStatus::NoConfiguration)
            outcome.statusDetail = configurationAttempts(setupPages);
        if (outcome.status == LookupStatus::Cancelled)
            return BatchTry::Done; // an earlier try, if any, stands
        results[size_t(index)] = std::move(outcome);
        return results[size_t(index)].status == LookupStatus::Blocked ? BatchTry::Again
                                                                      : BatchTry::Done;
    };
    const std::vector<bool> finished =
        runBatch(*m_pool, ids, qMin(options.jobs, m_jobs), cancel, lookUp, callbacks, &pacing,
                 qMax(1, options.maxTries), journalled);
    pacing.setPausedListener({}); // the progress it tells ends with this batch
    --m_batchesRunning;
    savePace();
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (finished[size_t(i)]) {
            results[size_t(i)].id = ids.at(i); // the row shows the id as the file has it
            outcomes.append(std::move(results[size_t(i)]));
            if (indexes)
                indexes->append(int(i));
        }
    }
    if (cancelled)
        *cancelled = cancel.isCancelled();
    return outcomes;
}

std::shared_ptr<BatchPacing> LookupService::makePacing(const BatchOptions &options) const
{
    m_pacer->setLeastGapMs(options.paceMs);
    return std::make_shared<BatchPacing>(qMin(options.jobs, m_jobs), m_pacer);
}

void LookupService::keepPace(const QString &path)
{
    const QuerySettings settings = this->settings();
    {
        std::lock_guard<std::mutex> lock(m_paceMutex);
        m_paceMemory.emplace(path);
        if (settings.paceMemoryHours > 0)
            m_pacer->setPaces(m_paceMemory->load(settings, fetchClockNow()));
        m_savedPace = m_pacer->generation();
    }
    // A block is saved as soon as it is learnt: a batch killed in its pause keeps it.
    m_paceListener = m_pacer->addPauseListener([this](int, const QString &) { savePace(); });
}

void LookupService::savePace()
{
    std::lock_guard<std::mutex> lock(m_paceMutex);
    const quint64 generation = m_pacer->generation();
    if (!m_paceMemory || generation == m_savedPace)
        return;
    const QuerySettings settings = this->settings();
    QString error;
    const bool saved = settings.paceMemoryHours > 0
                           ? m_paceMemory->save(settings, m_pacer->paces(), &error)
                           : m_paceMemory->forget(&error);
    if (!saved)
        qWarning().noquote() << "the pace is not kept:" << error;
    m_savedPace = generation;
}

QString LookupService::paceProgressText(qint64 elapsedMs, int finished, int left) const
{
    const double perMinute = m_pacer->pagesPerMinute();
    const qint64 buyers = m_buyersAsked;
    qint64 msLeft = batchMsLeft(elapsedMs, finished, finished + left);
    if (perMinute > 0 && buyers > 0) {
        const double pagesPerBuyer = double(m_pagesAsked) / double(buyers);
        msLeft = qint64(double(left) * pagesPerBuyer / perMinute * 60000.0);
    }
    const QString pace = pagesPerMinuteText(perMinute);
    const QString timeLeft = batchTimeLeftText(msLeft);
    if (pace.isEmpty() || timeLeft.isEmpty())
        return pace + timeLeft;
    return pace + inUserLanguage(QStringLiteral("，"), QStringLiteral(", ")) + timeLeft;
}

std::optional<LookupOutcome> LookupService::recentLookup(const QString &id, int withinMinutes,
                                                         const RiskSettings &risk) const
{
    if (!m_database)
        return std::nullopt;
    const std::optional<StoredLookup> stored = m_database->lastLookup(trimSpaces(id));
    if (!stored)
        return std::nullopt;
    const qint64 ageMs = stored->time.msecsTo(QDateTime::currentDateTimeUtc());
    if (ageMs < 0 || ageMs > qint64(withinMinutes) * 60 * 1000)
        return std::nullopt;
    LookupOutcome outcome;
    outcome.id = trimSpaces(id);
    outcome.result.record = stored->record;
    // Only lookups that found the buyer, or found there is none, are kept; a found buyer's
    // record has the address of the credit page it was read from.
    outcome.result.listed = !stored->record.creditUrl.isEmpty();
    outcome.status = outcome.result.listed ? LookupStatus::Found : LookupStatus::NotFound;
    outcome.reusedMinutes = int(ageMs / 60000);
    outcome.note = m_database->note(outcome.id);
    outcome.previous = stored;
    outcome.assessment = assess(outcome.result, outcome.note, risk);
    return outcome;
}

LookupOutcome LookupService::reassess(const LookupOutcome &outcome) const
{
    LookupOutcome again = outcome;
    if (m_database)
        again.note = m_database->note(outcome.result.record.buyerId);
    again.assessment = assess(again.result, again.note, settings().risk);
    return again;
}

QString LookupService::fetchStartupList(const CancelToken &cancel)
{
    const FetchContext context = fetchContext(cancel, nullptr, nullptr, nullptr);
    const QuerySettings settings = this->settings();
    QString list;
    QString address;
    if (!isBlank(settings.mainHost)) {
        address = siteAddress(settings.mainHost, "/soft/qvdl/zkrap2.htm");
        list = FetchPage(address, FetchWait::Short, context);
    }
    if (isBlank(list) && !isBlank(settings.secondHost)) {
        address = siteAddress(settings.secondHost, "/soft/wrub/zkrap2.htm");
        list = FetchPage(address, FetchWait::Short, context);
    }
    if (const std::shared_ptr<const ConfigCache> cache = configCache();
        cache && !cancel.isCancelled())
        list = keepOrUseStoredStartupList(*cache, settings, list, address,
                                          QDateTime::currentDateTimeUtc());
    return list;
}

QList<BatchRow> batchRows(const QList<LookupOutcome> &outcomes)
{
    QList<BatchRow> rows;
    rows.reserve(outcomes.size());
    for (const LookupOutcome &outcome : outcomes) {
        BatchRow row{outcome.id, outcome.result.record, outcome.result.pages, outcome.status};
        row.reusedMinutes = outcome.reusedMinutes;
        applySellerNote(&row, outcome.note);
        row.risk = outcome.assessment.risk.level;
        row.reasons = outcome.assessment.risk.reasons;
        rows.append(std::move(row));
    }
    return rows;
}
