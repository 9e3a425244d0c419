#include "lookup/profile.h"

#include <QDir>
#include <QFileInfo>

ProfileLoad loadProfile(const ProfileOptions &options, Profile *profile)
{
    ProfileLoad load;
    profile->browser = options.browser;
    if (options.demo) {
        if (options.demoHost.isEmpty()) {
            load.result = ProfileLoad::Result::DemoSiteFailed;
            return load;
        }
        profile->demo = true;
        profile->settings = demoSettings(options.demoHost);
    } else {
        const bool named = !options.settingsPath.isEmpty();
        load.path = named ? options.settingsPath : defaultSettingsPath();
        if (named || QFileInfo::exists(load.path)) {
            if (!loadQuerySettings(load.path, &profile->settings, &load.error, &load.problems)) {
                load.result = ProfileLoad::Result::SettingsUnreadable;
                return load;
            }
            profile->storage = loadStorageSettings(load.path, &load.problems);
            profile->settingsPath = load.path;
        } else if (!options.writeTemplate) {
            load.result = ProfileLoad::Result::NoSettings;
        } else {
            // Nobody named a host yet: hand the user a template instead of querying hosts that
            // nobody chose.
            load.result = writeSettingsTemplate(load.path, &load.error)
                              ? ProfileLoad::Result::TemplateWritten
                              : ProfileLoad::Result::TemplateFailed;
        }
    }
    profile->settings.parallelPages = profile->settings.parallelPages || options.parallelPages;
    if (!options.databasePath.isEmpty())
        profile->storage.databasePath = options.databasePath;
    else if (options.demo)
        // The demo's made-up buyers never mix with the seller's real history and notes.
        profile->storage.databasePath =
            QFileInfo(defaultDatabasePath()).absoluteDir().filePath(QStringLiteral("demo.sqlite"));
    if (options.noHistory)
        profile->storage.history = false;
    return load;
}
