#include "lookup/localsetup.h"

#include "engine/configcheck.h"
#include "files/inputfile.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

bool readText(const QString &path, QString *text, QString *error)
{
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason)) {
        *error =
            inUserLanguage(QStringLiteral("无法读取 %1：%2"), QStringLiteral("cannot read %1: %2"))
                .arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    if (file.size() > kMaxBytes) {
        *error = inUserLanguage(QStringLiteral("%1 大于 16 MiB"),
                                QStringLiteral("%1 is larger than 16 MiB"))
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!decodeSiteText(file.read(kMaxBytes + 1), text, &reason)) {
        *error = inUserLanguage(QStringLiteral("%1 不能用：%2"), QStringLiteral("%1 is %2"))
                     .arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    return true;
}

// A path from the settings file, relative to its folder.
QString settingsPathValue(const QString &settingsPath, const char *key)
{
    if (settingsPath.isEmpty())
        return {};
    const QSettings settings(settingsPath, QSettings::IniFormat);
    const QString value = settings.value(QLatin1String(key)).toString().trimmed();
    if (value.isEmpty())
        return {};
    return QFileInfo(settingsPath).absoluteDir().filePath(value);
}

} // namespace

bool loadLocalSetup(const QString &configPath, const QString &areaTablePath,
                    const QString &settingsPath, LocalSetup *local, QString *error)
{
    LocalSetup loaded;
    loaded.configPath =
        !configPath.isEmpty() ? configPath : settingsPathValue(settingsPath, "query/configFile");
    loaded.areaTablePath = !areaTablePath.isEmpty()
                               ? areaTablePath
                               : settingsPathValue(settingsPath, "query/areaTableFile");
    QString text;
    if (!loaded.configPath.isEmpty()) {
        if (!readText(loaded.configPath, &text, error))
            return false;
        const ConfigFile file = readConfigFile(text);
        if (file.hasErrors()) {
            QStringList lines = file.issueLines(loaded.configPath);
            lines.erase(std::remove_if(lines.begin(), lines.end(),
                                       [](const QString &line) {
                                           return line.contains(QLatin1String(": warning: "));
                                       }),
                        lines.end());
            *error =
                inUserLanguage(
                    QStringLiteral(
                        "%1 不是可用的查询配置（brelvon-cli check-config 可逐条检查）：\n%2"),
                    QStringLiteral("%1 is no usable query configuration:\n%2"))
                    .arg(QDir::toNativeSeparators(loaded.configPath), lines.mid(0, 10).join(u'\n'));
            return false;
        }
        loaded.config = file.config;
    }
    if (!loaded.areaTablePath.isEmpty()) {
        if (!readText(loaded.areaTablePath, &text, error))
            return false;
        // The test a downloaded area table passes.
        if (!text.contains(QStringLiteral("广东"))) {
            *error = inUserLanguage(
                         QStringLiteral("%1 不是地区表（应为“代码#名称”行，且含“广东”）"),
                         QStringLiteral("%1 is no area table (code#name lines; it lacks 广东)"))
                         .arg(QDir::toNativeSeparators(loaded.areaTablePath));
            return false;
        }
        loaded.areaTable = text;
    }
    *local = std::move(loaded);
    return true;
}
