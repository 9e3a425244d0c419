#pragma once

#include "engine/queryconfig.h"

#include <QString>

#include <optional>

// A query configuration and an area table from local files, used instead of the downloads from
// our web site: a maintainer tries a configuration against the live pages before publishing it.
// Either may be absent; what is absent is downloaded as usual.
struct LocalSetup
{
    std::optional<QueryConfig> config;
    std::optional<QString> areaTable;
    QString configPath; // the files they came from, for messages
    QString areaTablePath;

    bool isEmpty() const { return !config && !areaTable; }
};

// The local files named by the options (configPath, areaTablePath; either may be empty) or else
// by the settings file's [query] configFile and areaTableFile (relative to the settings file's
// folder). False with the reason when a named file cannot be read, is no text, or is no usable
// configuration (one with errors: brelvon-cli check-config names them) or area table.
bool loadLocalSetup(const QString &configPath, const QString &areaTablePath,
                    const QString &settingsPath, LocalSetup *local, QString *error);
