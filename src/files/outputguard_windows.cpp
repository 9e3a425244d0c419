#include "files/outputguard.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <io.h>
#include <windows.h>

// Windows has no pipes or devices in its folders, but it has device names that exist in every
// folder (CON, NUL, COM1 …: "nul.xlsx" is the null device too), and it drops a trailing dot or
// space from a name, so "table.xlsx." would be written as "table.xlsx". A ':' in a name reaches a
// file's hidden stream on NTFS ("a:b.xlsx" is the stream b.xlsx of a file "a"); the other
// characters no name may hold are refused by the system, but only once something else (the
// batch's journal beside the table) is written under the name.

namespace {

bool isDeviceName(const QString &fileName)
{
    static const QRegularExpression device(
        QStringLiteral(
            "^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|COM[0-9¹²³]|LPT[0-9¹²³])( *)(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return device.match(fileName).hasMatch();
}

bool hasForbiddenCharacter(const QString &fileName)
{
    static const QString forbidden = QStringLiteral(":?*|\"<>");
    for (QChar c : fileName) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return true;
    }
    return false;
}

QString canonicalName(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + u'/' + info.fileName();
}

// Names on Windows are the same whatever their letters' case.
const OwnFile *ownFileAt(const QString &path, const QList<OwnFile> &ownFiles)
{
    const QString name = canonicalName(path);
    for (const OwnFile &own : ownFiles) {
        const QString ownName = canonicalName(own.path);
        if (!name.isEmpty() && name.compare(ownName, Qt::CaseInsensitive) == 0)
            return &own;
    }
    return nullptr;
}

QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
}

} // namespace

bool resolveOutput(const QString &path, const QList<OwnFile> &ownFiles, OutputTarget *target,
                   QString *reason)
{
    if (path.isEmpty()) {
        *reason = inUserLanguage(QStringLiteral("没有文件名"), QStringLiteral("no file name"));
        return false;
    }
    const QString fileName = QFileInfo(path).fileName();
    if (isDeviceName(fileName)) {
        *reason = inUserLanguage(QStringLiteral("这是 Windows 的设备名"),
                                 QStringLiteral("it is a Windows device name"));
        return false;
    }
    if (hasForbiddenCharacter(fileName)) {
        *reason = inUserLanguage(
            QStringLiteral("Windows 的文件名不能含有 : ? * | \" < > 或控制字符"),
            QStringLiteral("a Windows file name cannot hold : ? * | \" < > or control characters"));
        return false;
    }
    if (fileName.endsWith(u'.') || fileName.endsWith(u' ')) {
        *reason =
            inUserLanguage(QStringLiteral("Windows 的文件名不能以点或空格结尾"),
                           QStringLiteral("a Windows file name cannot end in a dot or space"));
        return false;
    }
    QFileInfo info(path);
    target->path = path;
    if (info.isSymLink()) {
        // Written through: the link stays, and the file it leads to gets the bytes.
        if (!info.exists()) {
            *reason = inUserLanguage(QStringLiteral("这是指向不存在文件的符号链接"),
                                     QStringLiteral("it is a symbolic link to a missing file"));
            return false;
        }
        target->path = info.canonicalFilePath();
        info = QFileInfo(target->path);
    }
    if (!info.exists()) {
        const QString folder = info.absolutePath();
        if (!QFileInfo(folder).isDir()) {
            *reason = inUserLanguage(QStringLiteral("文件夹 %1 不存在"),
                                     QStringLiteral("folder %1 does not exist"))
                          .arg(QDir::toNativeSeparators(folder));
            return false;
        }
    } else if (info.isDir()) {
        *reason =
            inUserLanguage(QStringLiteral("这是一个文件夹"), QStringLiteral("it is a folder"));
        return false;
    } else if (!info.isFile()) {
        *reason =
            inUserLanguage(QStringLiteral("这不是普通文件（是设备、管道或套接字）"),
                           QStringLiteral("it is not a regular file (a device, pipe or socket)"));
        return false;
    } else if (!info.isWritable()) {
        // A file its owner made read-only is not replaced behind their back.
        *reason = inUserLanguage(QStringLiteral("没有权限"), QStringLiteral("permission denied"));
        return false;
    }
    if (const OwnFile *own = ownFileAt(target->path, ownFiles)) {
        *reason =
            inUserLanguage(QStringLiteral("这是%1"), QStringLiteral("it is %1")).arg(own->what);
        return false;
    }
    target->existed = info.exists();
    return true;
}

bool replaceOutput(const OutputTarget &target,
                   const std::function<bool(const QString &partial, QString *reason)> &write,
                   QString *reason)
{
    const QFileInfo info(target.path);
    QString partial;
    {
        // Only its name is kept: a QTemporaryFile holds its handle open even when closed, and
        // Windows renames no file that is open. The name is ASCII, so that a library opening it
        // through the ANSI code page (fopenName) finds it whatever the target is called.
        QTemporaryFile file(info.absolutePath() + QStringLiteral("/.brelvon-XXXXXX.partial"));
        if (!file.open()) {
            *reason = file.errorString();
            return false;
        }
        file.setAutoRemove(false);
        partial = file.fileName();
    }
    if (!write(partial, reason)) {
        QFile::remove(partial);
        return false;
    }
    const std::wstring from = QDir::toNativeSeparators(partial).toStdWString();
    const std::wstring to = QDir::toNativeSeparators(target.path).toStdWString();
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *reason = systemMessage(GetLastError());
        QFile::remove(partial);
        return false;
    }
    return true;
}

namespace {

// The bytes of text in the ANSI code page; false when a character has none there.
bool toAnsi(const QString &text, QByteArray *ansi)
{
    // Where the ANSI code page is UTF-8 (the programs' manifest asks for it on Windows 10 1903
    // and later), every name has its bytes; the flags below would make the conversion fail.
    if (GetACP() == CP_UTF8) {
        *ansi = text.toUtf8();
        return true;
    }
    const std::wstring wide = text.toStdWString();
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(),
                                         int(wide.size()), nullptr, 0, nullptr, &lossy);
    ansi->resize(size);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), int(wide.size()), ansi->data(),
                        size, nullptr, &lossy);
    return !lossy;
}

} // namespace

QByteArray fopenName(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    QByteArray ansi;
    if (toAnsi(native, &ansi))
        return ansi;
    const std::wstring wide = native.toStdWString();
    std::wstring shortName(32768, L'\0');
    const DWORD length = GetShortPathNameW(wide.c_str(), shortName.data(), DWORD(shortName.size()));
    QByteArray shortAnsi;
    if (length > 0 && length < shortName.size() &&
        toAnsi(QString::fromWCharArray(shortName.c_str(), int(length)), &shortAnsi))
        return shortAnsi;
    return ansi; // fopen() then fails, and the caller says so
}

bool writeOutputFile(const QString &path, const QByteArray &bytes, const QList<OwnFile> &ownFiles,
                     QString *reason)
{
    OutputTarget target;
    const auto write = [&bytes](const QString &partial, QString *why) {
        QFile file(partial);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size() || !file.flush() ||
            !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())))) {
            *why = file.errorString();
            return false;
        }
        return true;
    };
    return resolveOutput(path, ownFiles, &target, reason) && replaceOutput(target, write, reason);
}
