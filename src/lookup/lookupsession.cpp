#include "lookup/lookupsession.h"

#include "lookup/batchrun.h"

#include "browser/hiddenbrowser.h"
#include "browser/pagehandover.h"
#include "lookup/configcache.h"

#include <QMetaType>

namespace {

Profile settingsOnly(const QuerySettings &settings)
{
    Profile profile;
    profile.settings = settings;
    profile.storage.history = false;
    return profile;
}

} // namespace

LookupSession::LookupSession(Profile profile, const Options &options, QObject *parent)
    : QObject(parent), m_profile(std::move(profile))
{
    qRegisterMetaType<LookupOutcome>();
    qRegisterMetaType<QuerySettings>();
    qRegisterMetaType<StorageSettings>();
    const QuerySettings &settings = m_profile.settings;
    m_service = std::make_unique<LookupService>(settings, options.jobs > 0 ? options.jobs
                                                                           : settings.batchJobs);

    const StorageSettings &storage = m_profile.storage;
    if (options.database != Options::Database::None) {
        // Without history a missing file need not be made.
        const bool create = options.database == Options::Database::CreateIfMissing;
        m_ownDatabase.open(storage.path(), create ? SellerDatabase::OpenMode::CreateIfMissing
                                                  : SellerDatabase::OpenMode::ExistingOnly);
        m_database = &m_ownDatabase;
        m_service->setDatabase(m_database, storage.history);
    }
    // The demo site's configuration is always there and never the seller's to keep.
    if (options.keepConfiguration && !m_profile.demo)
        m_service->setConfigCache(
            std::make_shared<const ConfigCache>(ConfigCache::defaultFolder()));
    if (options.keepPace && !m_profile.demo)
        m_service->keepPace(PaceMemory::defaultPath());
    if (options.browser) {
        HiddenBrowser::setMemoryLimitMB(settings.browserMaxMemoryMB);
        HiddenBrowser::setNetwork(settings.network);
        m_pages = new PageHandOver(m_service->jobs(), this);
        m_service->setBrowser(m_pages);
    }
    // Told on the worker that ran the lookup; the signal reaches listeners on their threads.
    m_service->setLookupListener(
        [this](const LookupOutcome &outcome) { emit lookupFinished(outcome); });
}

LookupSession::LookupSession(const QuerySettings &settings, QObject *parent)
    : LookupSession(settingsOnly(settings), Options{}, parent)
{
}

LookupSession::~LookupSession()
{
    // Lookups still under way end without telling a session that is going.
    m_service->setLookupListener({});
    m_service.reset();
}

void LookupSession::useDatabase(SellerDatabase *database, bool recordHistory)
{
    m_database = database;
    m_service->setDatabase(database, recordHistory);
}

bool LookupSession::recordsHistory() const
{
    return m_service->recordsHistory();
}

void LookupSession::applySettings(const QuerySettings &settings, const StorageSettings &storage)
{
    if (m_profile.demo) {
        // The seller's own hosts again: their stored copies too.
        m_service->setConfigCache(std::exchange(m_keptCache, nullptr));
        m_profile.demo = false;
    }
    apply(settings, storage);
}

void LookupSession::apply(const QuerySettings &settings, const StorageSettings &storage)
{
    m_profile.settings = settings;
    m_profile.storage.history = storage.history;
    m_service->setSettings(settings);
    if (m_pages)
        HiddenBrowser::setNetwork(settings.network);
    m_service->setRecordHistory(storage.history);
    emit settingsChanged(settings, storage);
}

bool LookupSession::useDemoSite()
{
    QString hostPort;
    if (m_profile.demo) {
        hostPort = m_profile.settings.mainHost;
    } else {
        if (!m_startDemoSite)
            return false;
        hostPort = m_startDemoSite();
        if (hostPort.isEmpty())
            return false;
        m_keptCache = m_service->configCache();
        m_service->setConfigCache(nullptr);
        m_profile.demo = true;
    }
    StorageSettings storage = m_profile.storage;
    // The demo's made-up buyers stay out of the seller's history.
    storage.history = false;
    // The network stays the seller's (the demo site on this machine is reached directly anyway),
    // so a browser started under it keeps reading.
    QuerySettings demo = demoSettings(hostPort);
    demo.network = m_profile.settings.network;
    apply(demo, storage);
    return true;
}

void LookupSession::setBrowser(DetailPageBrowser *browser)
{
    m_service->setBrowser(browser);
}

void LookupSession::setLocalSetup(const LocalSetup &local)
{
    m_service->setLocalSetup(local);
}

void LookupSession::setConfigCache(std::shared_ptr<const ConfigCache> cache)
{
    m_service->setConfigCache(std::move(cache));
}

BatchRun *LookupSession::makeBatchRun(const BatchRequest &request, QObject *parent)
{
    return new BatchRun(m_service.get(), m_database, request, parent);
}
