#include "app/session/sessionopener.h"

#include "lookup/localsetup.h"
#include "model/batchoptions.h"

SessionOpening SessionOpening::window(const QString &configPath, const QString &areaTablePath)
{
    SessionOpening how;
    how.jobs = BatchOptions::kMaxJobs;
    how.database = LookupSession::Options::Database::CreateIfMissing;
    how.browser = true;
    how.keepConfiguration = true;
    how.keepPace = true;
    how.configPath = configPath;
    how.areaTablePath = areaTablePath;
    return how;
}

SessionOpening SessionOpening::command(int jobs, bool history, bool browser,
                                       const QString &configPath, const QString &areaTablePath)
{
    SessionOpening how;
    how.jobs = jobs;
    // Without history a missing file is not made.
    how.database = history ? LookupSession::Options::Database::CreateIfMissing
                           : LookupSession::Options::Database::ExistingOnly;
    how.browser = browser;
    how.keepConfiguration = true;
    how.keepPace = true;
    how.configPath = configPath;
    how.areaTablePath = areaTablePath;
    return how;
}

SessionOpening SessionOpening::check()
{
    SessionOpening how;
    how.jobs = 2;
    return how;
}

std::unique_ptr<LookupSession> openSession(const Profile &profile, const SessionOpening &how,
                                           QString *error)
{
    LocalSetup local;
    if (!loadLocalSetup(how.configPath, how.areaTablePath, profile.settingsPath, &local, error))
        return nullptr;
    LookupSession::Options options;
    options.jobs = how.jobs;
    options.database = how.database;
    options.browser = how.browser;
    options.keepConfiguration = how.keepConfiguration;
    options.keepPace = how.keepPace;
    auto session = std::make_unique<LookupSession>(profile, options);
    session->setLocalSetup(local);
    return session;
}
