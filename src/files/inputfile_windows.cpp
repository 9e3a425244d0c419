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
