#include "files/inputfile.h"

#include "model/uilanguage.h"

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
