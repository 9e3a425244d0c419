#include "storage/storagesettings.h"

#include "model/defaultfolders.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

QString StorageSettings::path() const
{
    return databasePath.isEmpty() ? defaultDatabasePath() : databasePath;
}

QString defaultDatabasePath()
{
    return defaultDataFolder() + QLatin1String("/brelvon.sqlite");
}

StorageSettings loadStorageSettings(const QString &settingsPath, QStringList *problems)
{
    StorageSettings s;
    if (settingsPath.isEmpty() || !QFileInfo(settingsPath).isFile())
        return s;
    const QSettings ini(settingsPath, QSettings::IniFormat);
    const auto text = [&](const char *key) {
        const QVariant v = ini.value(QLatin1String(key));
        // The INI reader splits values at commas; a file name may hold one.
        if (v.metaType().id() == QMetaType::QStringList)
            return v.toStringList().join(u',').trimmed();
        return v.toString().trimmed();
    };
    const QString database = text("storage/database");
    if (database.startsWith(QLatin1String("~/"))) {
        s.databasePath = QDir::homePath() + database.mid(1);
    } else if (!database.isEmpty()) {
        // A relative name is taken from the settings file's folder, not from wherever the
        // program happens to be started.
        s.databasePath = QDir::isAbsolutePath(database)
                             ? database
                             : QFileInfo(settingsPath).absoluteDir().filePath(database);
    }
    const QString history = text("storage/history").toLower();
    if (history == QLatin1String("false") || history == QLatin1String("0"))
        s.history = false;
    else if (!history.isEmpty() && history != QLatin1String("true") &&
             history != QLatin1String("1") && problems)
        problems->append(
            inUserLanguage(
                QStringLiteral("设置文件 %1：[storage] history=%2 不是 true 或 false，改用默认值"),
                QStringLiteral("settings file %1: [storage] history=%2 is not true or false; using "
                               "the default"))
                .arg(QDir::toNativeSeparators(settingsPath), history));
    return s;
}
