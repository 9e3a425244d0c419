#include "skin/installpaths.h"

#include <QCoreApplication>
#include <QDir>

// Set by CMake from the install layout: the data folder relative to the programs' folder,
// "../share/brelvon" with the usual one.
#ifndef BRELVON_DATA_DIR_FROM_BIN
#define BRELVON_DATA_DIR_FROM_BIN "../share/brelvon"
#endif

QString installedDataDir()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(BRELVON_DATA_DIR_FROM_BIN));
}
