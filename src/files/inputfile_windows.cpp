#include "files/inputfile.h"

#include "model/uilanguage.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <io.h>
#include <windows.h>

// Windows opens a folder only with special flags, so a folder is told by its name; anything else
// is opened and asked what it is: a disk file, or a console, port or pipe (\\.\NUL, \\.\COM1
// and \\.\pipe\… open like files; a bare NUL or CON Qt opens as a file in the folder).
bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    if (QFileInfo(path).isDir()) {
        *reason =
            inUserLanguage(QStringLiteral("这是一个文件夹"), QStringLiteral("it is a folder"));
        if (notRegular)
            *notRegular = true;
        return false;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *reason = file->errorString();
        return false;
    }
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(file->handle()))) != FILE_TYPE_DISK) {
        file->close();
        *reason =
            inUserLanguage(QStringLiteral("这不是普通文件（是设备、管道或套接字）"),
                           QStringLiteral("it is not a regular file (a device, pipe or socket)"));
        if (notRegular)
            *notRegular = true;
        return false;
    }
    return true;
}

// Windows holds no folder open for reading its files by name: the folder is checked once, and
// each file is refused when it is a link (a symbolic link or junction) or no disk file.
InputFolder::~InputFolder() = default;

bool InputFolder::open(const QString &path, QString *reason)
{
    m_path = path;
    const QFileInfo info(path);
    m_pathWasLink = info.isSymLink() || info.isJunction();
    m_fd = info.isDir() && info.isReadable() ? 0 : -1; // 0: open
    if (m_fd < 0) {
        *reason =
            !info.exists()
                ? inUserLanguage(QStringLiteral("文件夹不存在"), QStringLiteral("no such folder"))
                : inUserLanguage(QStringLiteral("不是文件夹"), QStringLiteral("not a folder"));
        return false;
    }
    return true;
}

bool InputFolder::openFile(const QString &name, QFile *file, QString *reason, bool *isLink) const
{
    if (isLink)
        *isLink = false;
    if (m_fd < 0 || name.isEmpty() || name.contains(u'/') || name.contains(u'\\') ||
        name == QLatin1String("..")) {
        *reason = inUserLanguage(QStringLiteral("文件不存在"), QStringLiteral("no such file"));
        return false;
    }
    const QString path = m_path + u'/' + name;
    if (QFileInfo(path).isSymLink() || QFileInfo(path).isJunction()) {
        if (isLink)
            *isLink = true;
        *reason =
            inUserLanguage(QStringLiteral("这是符号链接"), QStringLiteral("it is a symbolic link"));
        return false;
    }
    return openRegularFile(path, file, reason);
}

void InputFolder::close()
{
    m_fd = -1;
}

namespace {

FileStamp stampOfInfo(const QFileInfo &info)
{
    FileStamp s;
    if (!info.exists() && !info.isSymLink())
        return s;
    s.size = info.size();
    s.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return s;
}

bool isLink(const QFileInfo &info)
{
    return info.isSymLink() || info.isJunction();
}

} // namespace

bool InputFolder::entries(QList<FolderEntry> *out, QString *reason) const
{
    out->clear();
    const QDir folder(m_path);
    if (m_fd < 0 || !folder.exists()) {
        *reason = inUserLanguage(QStringLiteral("文件夹不存在"), QStringLiteral("no such folder"));
        return false;
    }
    const QFileInfoList infos = folder.entryInfoList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : infos) {
        FolderEntry entry;
        entry.name = info.fileName();
        entry.kind = isLink(info)    ? FolderEntry::Kind::Link
                     : info.isDir()  ? FolderEntry::Kind::Folder
                     : info.isFile() ? FolderEntry::Kind::Regular
                                     : FolderEntry::Kind::Other;
        entry.stamp = stampOfInfo(info);
        out->append(entry);
    }
    return true;
}

FileStamp InputFolder::stampOf(const QString &name) const
{
    if (m_fd < 0 || name.contains(u'/') || name.contains(u'\\'))
        return {};
    return stampOfInfo(QFileInfo(m_path + u'/' + name));
}

FileStamp InputFolder::stampOf(const QFile &file)
{
    return stampOfInfo(QFileInfo(file.fileName()));
}

InputFolder::PathState InputFolder::pathState() const
{
    const QFileInfo info(m_path);
    if (isLink(info) && !m_pathWasLink)
        return PathState::Link;
    return info.isDir() ? PathState::Same : PathState::Gone;
}

bool InputFolder::moveInto(const QString &name, const QString &sub, QString *movedTo,
                           QString *reason) const
{
    const QDir folder(m_path);
    const QFileInfo target(folder.filePath(sub));
    if (isLink(target) || (target.exists() && !target.isDir())) {
        *reason =
            inUserLanguage(QStringLiteral("%1 不是文件夹"), QStringLiteral("%1 is not a folder"))
                .arg(sub);
        return false;
    }
    if (!target.exists() && !folder.mkdir(sub)) {
        *reason = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                                 QStringLiteral("cannot create the folder %1"))
                      .arg(target.filePath());
        return false;
    }
    for (int n = 1; n < 10000; ++n) {
        const QString to = target.filePath() + u'/' + numberedFileName(name, n);
        if (QFileInfo::exists(to) || QFileInfo(to).isSymLink())
            continue;
        // QFile::rename never replaces an existing file.
        if (QFile::rename(folder.filePath(name), to)) {
            *movedTo = to;
            return true;
        }
        break;
    }
    *reason =
        inUserLanguage(QStringLiteral("无法移动 %1"), QStringLiteral("cannot move %1")).arg(name);
    return false;
}
