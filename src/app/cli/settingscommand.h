#pragma once

#include <QStringList>

// brelvon-cli settings check [--settings FILE]: asks every host of the settings for what a lookup
// needs of it; one line per host and document; exit 0 when every host of our site gave a query
// configuration and the trade-card host answered.
int runSettingsCommand(const QStringList &args);
