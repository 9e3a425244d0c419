#pragma once

#include "files/querysettings.h"
#include "storage/storagesettings.h"

#include <QString>
#include <QStringList>

// What either program was asked for on its command line.
struct ProfileOptions
{
    QString settingsPath; // empty: the default settings file
    bool demo = false;    // the bundled demo site, which the program serves at demoHost
    QString demoHost;     // host:port of the demo site the program started ("": it could not)
    QString databasePath; // wins over the settings' [storage] database
    bool noHistory = false;
    bool parallelPages = false; // adds to the settings' [query] parallelPages
    bool browser = false;       // the embedded browser reads what the fetch cannot
    bool writeTemplate = true;  // without a settings file: leave a template (else NoSettings)
};

// Where the lookups go and where their results are kept: the settings, the storage, the demo
// site when there is one, the browser choice.
struct Profile
{
    QuerySettings settings;
    StorageSettings storage;
    bool demo = false; // the hosts are the bundled demo site's
    bool browser = false;
    QString settingsPath; // the file read, empty with the demo site
};

// How loading went. Each program says it in its own words and decides whether to go on.
struct ProfileLoad
{
    enum class Result {
        Ok,
        DemoSiteFailed,     // the demo site could not be started (no demoHost)
        SettingsUnreadable, // the named (or default) file cannot be read or names no host: error
        TemplateWritten,    // no settings yet: a template was written to path
        TemplateFailed,     // no settings yet, and no template could be written: error
        NoSettings,         // no settings yet, and no template asked for
    };
    Result result = Result::Ok;
    QString error;
    QString path;         // the settings file
    QStringList problems; // values out of range, which kept their defaults
};

// Loads the profile both programs run with.
ProfileLoad loadProfile(const ProfileOptions &options, Profile *profile);
