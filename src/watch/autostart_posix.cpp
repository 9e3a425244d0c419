#include "watch/autostart.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// An argument of Exec, quoted the way desktop entries need it when it holds a reserved character.
QString execArgument(const QString &arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool plain = !arg.isEmpty();
    for (QChar c : arg)
        plain = plain && !reserved.contains(c);
    if (plain)
        return arg;
    QString quoted = arg;
    quoted.replace(u'\\', QStringLiteral("\\\\\\\\"))
        .replace(u'"', QStringLiteral("\\\\\""))
        .replace(u'`', QStringLiteral("\\\\`"))
        .replace(u'$', QStringLiteral("\\\\$"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

QString autostartEntryPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart/brelvon.desktop"));
}

bool autostartEntryExists()
{
    return QFileInfo::exists(autostartEntryPath());
}

QString autostartEntryText(const QString &program, const QString &settingsPath)
{
    QString exec = execArgument(program) + QStringLiteral(" --hidden");
    if (!settingsPath.isEmpty())
        exec += QStringLiteral(" --settings ") + execArgument(settingsPath);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Brelvon\n"
                          "Name[zh_CN]=Brelvon 买家信用查询\n"
                          "Comment=Watches order exports from the tray\n"
                          "Comment[zh_CN]=在托盘中检查订单文件\n"
                          "Exec=%1\n"
                          "Icon=brelvon\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec);
}

bool setStartAtLogin(bool on, const QString &program, const QString &settingsPath, QString *error)
{
    const QString path = autostartEntryPath();
    if (!on) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        *error = inUserLanguage(QStringLiteral("无法删除自动启动项 %1"),
                                QStringLiteral("cannot remove the autostart entry %1"))
                     .arg(path);
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray text = autostartEntryText(program, settingsPath).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = inUserLanguage(QStringLiteral("无法写入自动启动项 %1：%2"),
                                QStringLiteral("cannot write the autostart entry %1: %2"))
                     .arg(path, file.errorString());
        return false;
    }
    return true;
}
