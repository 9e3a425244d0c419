#include "watch/autostart.h"

#include "files/safewrite.h"
#include "model/terminaltext.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

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
    // A line break in a path would end Exec= and start a line of its own, one a launcher may
    // take instead; no quoting survives that, so such a path is refused.
    for (const QString &given : {program, settingsPath}) {
        if (std::any_of(given.cbegin(), given.cend(), [](QChar c) { return c.unicode() < 0x20; })) {
            *error = inUserLanguage(
                         QStringLiteral("无法写入自动启动项：路径中有换行或控制字符：%1"),
                         QStringLiteral("cannot write the autostart entry: a line break or control "
                                        "character in the path %1"))
                         .arg(escapeControls(given, LineFeeds::Escape));
            return false;
        }
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString reason;
    if (!replaceOwnerOnlyFile(path, autostartEntryText(program, settingsPath).toUtf8(), &reason)) {
        *error = inUserLanguage(QStringLiteral("无法写入自动启动项 %1：%2"),
                                QStringLiteral("cannot write the autostart entry %1: %2"))
                     .arg(path, reason);
        return false;
    }
    return true;
}
