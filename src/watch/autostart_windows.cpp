#include "watch/autostart.h"

#include "model/uilanguage.h"

#include <QDir>

#include <windows.h>

// Windows starts what the Run key of the user's registry names at login: one value per program,
// its data a command line. No file, so nothing is left behind in a folder the uninstaller does
// not know.

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"Brelvon";

QString runValueName()
{
    return QStringLiteral(
               "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\") +
           QString::fromWCharArray(kValueName);
}

QString systemMessage(LSTATUS code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
}

// A path as one argument: Windows paths hold no '"', and a folder's trailing '\' would escape
// the closing quote, so it goes.
QString quotedPath(const QString &path)
{
    QString native = QDir::toNativeSeparators(path);
    while (native.endsWith(u'\\'))
        native.chop(1);
    return u'"' + native + u'"';
}

} // namespace

QString autostartEntryPath()
{
    return QString();
}

bool autostartEntryExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const bool there =
        RegQueryValueExW(key, kValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return there;
}

QString autostartEntryText(const QString &program, const QString &settingsPath)
{
    QString command = quotedPath(program) + QStringLiteral(" --hidden");
    if (!settingsPath.isEmpty())
        command += QStringLiteral(" --settings ") + quotedPath(settingsPath);
    return command;
}

bool setStartAtLogin(bool on, const QString &program, const QString &settingsPath, QString *error)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0,
                                     KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        if (on) {
            const std::wstring command = autostartEntryText(program, settingsPath).toStdWString();
            status = RegSetValueExW(key, kValueName, 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(command.c_str()),
                                    DWORD((command.size() + 1) * sizeof(wchar_t)));
        } else {
            status = RegDeleteValueW(key, kValueName);
            if (status == ERROR_FILE_NOT_FOUND)
                status = ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        return true;
    *error = (on ? inUserLanguage(QStringLiteral("无法写入自动启动项 %1：%2"),
                                  QStringLiteral("cannot write the autostart entry %1: %2"))
                 : inUserLanguage(QStringLiteral("无法删除自动启动项 %1：%2"),
                                  QStringLiteral("cannot remove the autostart entry %1: %2")))
                 .arg(runValueName(), systemMessage(status));
    return false;
}
