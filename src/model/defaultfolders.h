#pragma once

#include <QString>

// Where the seller's settings file and data (database, kept copies) live unless the command line
// or the settings say otherwise. A portable copy (a file named "portable" beside the Windows
// programs) keeps both in the folder "data" beside the programs.
QString defaultConfigFolder();
QString defaultDataFolder();
