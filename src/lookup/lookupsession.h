#pragma once

#include "lookup/localsetup.h"
#include "lookup/lookupservice.h"
#include "lookup/profile.h"
#include "storage/sellerdatabase.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class BatchRun;
class ConfigCache;
struct BatchRequest;
class DetailPageBrowser;
class PageHandOver;

// What a front end holds: the seller's database, the lookup service, the embedded browser's
// hand-over, the kept configuration and the local setup, made from a profile. The window, the
// command line and a watcher all look up through a session and hear what changes in it; none of
// them builds a service, a fetch or a cancellation of its own.
//
// Lives on the thread that made it (the window's, or the command line's main thread); its
// signals are emitted there.
class LookupSession : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        // The most buyers looked up at once (0: the settings' [batch] jobs).
        int jobs = 0;
        enum class Database {
            None,            // no database: nothing recorded, no notes
            CreateIfMissing, // the profile's database, made when missing
            ExistingOnly,    // the profile's database only when it exists
        };
        Database database = Database::None;
        // Hidden browser pages read what the plain fetch cannot (one per buyer in flight).
        bool browser = false;
        // Our site's last good configuration is kept, and stands in while the site is down
        // (never for the demo site).
        bool keepConfiguration = false;
        // The pace learnt from the marketplace's blocks is kept in the seller's data folder for
        // the next run (never the demo site's).
        bool keepPace = false;
    };

    explicit LookupSession(Profile profile, const Options &options, QObject *parent = nullptr);
    // A session on these settings alone: no database, no kept configuration, no browser.
    explicit LookupSession(const QuerySettings &settings, QObject *parent = nullptr);
    ~LookupSession() override;

    LookupService &service() { return *m_service; }
    const Profile &profile() const { return m_profile; }
    // The settings lookups run with now.
    QuerySettings settings() const { return m_profile.settings; }
    StorageSettings storage() const { return m_profile.storage; }
    // The settings file the seller edits (empty: none yet).
    QString settingsPath() const { return m_profile.settingsPath; }
    void setSettingsPath(const QString &path) { m_profile.settingsPath = path; }

    // The seller's database (null: none). The session's own unless useDatabase named another.
    SellerDatabase *database() const { return m_database; }
    // Another database instead of the session's own (it must outlive the session).
    void useDatabase(SellerDatabase *database, bool recordHistory);
    bool recordsHistory() const;

    // New settings for the lookups that start from now on (the seller's own: the demo site is
    // left); every listener hears of them.
    void applySettings(const QuerySettings &settings, const StorageSettings &storage);

    // The detail page's loader of last resort instead of the session's own hidden pages.
    void setBrowser(DetailPageBrowser *browser);
    void setLocalSetup(const LocalSetup &local);
    void setConfigCache(std::shared_ptr<const ConfigCache> cache);

    // Starts the bundled demo site for the program and gives its host:port ("" when it could not
    // start). The program sets it; the session itself serves nothing.
    using DemoSiteStarter = std::function<QString()>;
    void setDemoSiteStarter(DemoSiteStarter starter) { m_startDemoSite = std::move(starter); }
    bool canUseDemoSite() const { return bool(m_startDemoSite) || m_profile.demo; }
    // Lookups go to the demo site from now on, recording nothing. False when it cannot start.
    bool useDemoSite();
    bool usesDemoSite() const { return m_profile.demo; }

    // A batch on this session's service and database, owned by parent; start() begins it.
    BatchRun *makeBatchRun(const BatchRequest &request, QObject *parent);

    // A front end changed a buyer's note or mark: every listener hears of it.
    void tellNotesChanged(const QString &buyerId) { emit notesChanged(buyerId); }

signals:
    void settingsChanged(const QuerySettings &settings, const StorageSettings &storage);
    // Every lookup that ended (not cancelled), a batch's buyers included, whoever started it.
    void lookupFinished(const LookupOutcome &outcome);
    void notesChanged(const QString &buyerId);

private:
    void apply(const QuerySettings &settings, const StorageSettings &storage);

    Profile m_profile;
    SellerDatabase m_ownDatabase;
    SellerDatabase *m_database = nullptr;
    std::unique_ptr<LookupService> m_service;
    PageHandOver *m_pages = nullptr;
    std::shared_ptr<const ConfigCache> m_keptCache; // set aside while the demo site serves
    DemoSiteStarter m_startDemoSite;
};
