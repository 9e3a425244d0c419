#pragma once

#include <QString>

// The installed data folder (skins), found from the running program's own folder: an installed
// program sits in <prefix>/bin and its data in <prefix>/share/brelvon, so a package unpacked
// anywhere still finds its skins. Needs a QCoreApplication.
QString installedDataDir();
