#include "files/inputfile.h"

#include "model/uilanguage.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason =
            S_ISDIR(st.st_mode)
                ? inUserLanguage(QStringLiteral("这是一个文件夹"), QStringLiteral("it is a folder"))
                : inUserLanguage(
                      QStringLiteral("这不是普通文件（是设备、管道或套接字）"),
                      QStringLiteral("it is not a regular file (a device, pipe or socket)"));
        if (notRegular)
            *notRegular = true;
        ::close(fd);
        return false;
    }
    // Reads of a regular file wait on the disk only; they need not be non-blocking.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->setFileName(path);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *reason = file->errorString();
        ::close(fd);
        return false;
    }
    return true;
}
