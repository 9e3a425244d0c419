#pragma once

#include <QString>
#include <QStringList>

// Where the seller's data lives and whether lookups are recorded: the settings file's [storage]
// section, overridden by the command line.
struct StorageSettings
{
    QString databasePath; // [storage] database; empty: defaultDatabasePath()
    bool history = true;  // [storage] history: record every completed lookup

    QString path() const;
};

// <user data folder>/Brelvon/brelvon.sqlite (~/.local/share/Brelvon/brelvon.sqlite).
QString defaultDatabasePath();

// Reads the [storage] section of an INI settings file (a missing file or section keeps the
// defaults). A value that is not understood keeps its default and is named in *problems.
StorageSettings loadStorageSettings(const QString &settingsPath, QStringList *problems = nullptr);
