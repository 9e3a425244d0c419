#include "model/defaultfolders.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// "" unless the programs were unpacked as a portable copy.
QString portableFolder()
{
    const QString programs = QCoreApplication::applicationDirPath();
    if (programs.isEmpty() || !QFileInfo(programs + QLatin1String("/portable")).isFile())
        return {};
    return programs + QLatin1String("/data");
}

} // namespace

// Both in the user's local application data (%LOCALAPPDATA%\Brelvon): private to the user.
QString defaultConfigFolder()
{
    const QString portable = portableFolder();
    return !portable.isEmpty()
               ? portable
               : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     QLatin1String("/Brelvon");
}

QString defaultDataFolder()
{
    const QString portable = portableFolder();
    return !portable.isEmpty()
               ? portable
               : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                     QLatin1String("/Brelvon");
}
