#include "files/inputfile.h"

#include "model/uilanguage.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The descriptor opened (fd, or -1 with errno), kept when it is a regular file.
bool keepRegularFile(int fd, const QString &path, QFile *file, QString *reason, bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    if (fd < 0) {
        *reason = systemErrorText(errno);
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

} // namespace

bool openRegularFile(const QString &path, QFile *file, QString *reason, bool *notRegular)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return keepRegularFile(fd, path, file, reason, notRegular);
}

InputFolder::~InputFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InputFolder::open(const QString &path, QString *reason)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_path = path;
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        *reason = errno == ENOTDIR
                      ? inUserLanguage(QStringLiteral("不是文件夹"), QStringLiteral("not a folder"))
                      : systemErrorText(errno);
        return false;
    }
    return true;
}

bool InputFolder::openFile(const QString &name, QFile *file, QString *reason, bool *isLink) const
{
    if (isLink)
        *isLink = false;
    if (m_fd < 0 || name.isEmpty() || name.contains(u'/') || name == QLatin1String("..")) {
        *reason = systemErrorText(ENOENT);
        return false;
    }
    const int fd = ::openat(m_fd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP) {
        if (isLink)
            *isLink = true;
        *reason =
            inUserLanguage(QStringLiteral("这是符号链接"), QStringLiteral("it is a symbolic link"));
        return false;
    }
    return keepRegularFile(fd, m_path + u'/' + name, file, reason, nullptr);
}
