#include "files/inputfile.h"

#include "model/uilanguage.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
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
    struct stat st = {};
    m_pathWasLink = ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
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

void InputFolder::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

namespace {

FileStamp stampOfStat(const struct stat &st)
{
    FileStamp s;
    s.size = qint64(st.st_size);
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    return s;
}

FolderEntry::Kind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FolderEntry::Kind::Regular;
    if (S_ISLNK(mode))
        return FolderEntry::Kind::Link;
    if (S_ISDIR(mode))
        return FolderEntry::Kind::Folder;
    return FolderEntry::Kind::Other;
}

} // namespace

bool InputFolder::entries(QList<FolderEntry> *out, QString *reason) const
{
    out->clear();
    // A descriptor of its own: closedir() closes it, and reading moves its position.
    const int fd = m_fd < 0 ? -1 : ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        *reason = systemErrorText(m_fd < 0 ? EBADF : errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    while (const struct dirent *e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat st = {};
        if (::fstatat(m_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        FolderEntry entry;
        entry.name = QFile::decodeName(e->d_name);
        entry.kind = kindOf(st.st_mode);
        entry.stamp = stampOfStat(st);
        out->append(entry);
    }
    ::closedir(dir);
    return true;
}

FileStamp InputFolder::stampOf(const QString &name) const
{
    struct stat st = {};
    if (m_fd < 0 || name.contains(u'/') ||
        ::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return stampOfStat(st);
}

FileStamp InputFolder::stampOf(const QFile &file)
{
    struct stat st = {};
    if (file.handle() < 0 || ::fstat(file.handle(), &st) != 0)
        return {};
    return stampOfStat(st);
}

InputFolder::PathState InputFolder::pathState() const
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat named = {};
    struct stat held = {};
    if (::lstat(path.constData(), &named) != 0)
        return PathState::Gone;
    if (S_ISLNK(named.st_mode) && !m_pathWasLink)
        return PathState::Link;
    if (::stat(path.constData(), &named) != 0 || !S_ISDIR(named.st_mode))
        return PathState::Gone;
    if (m_fd < 0 || ::fstat(m_fd, &held) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino)
        return PathState::Replaced;
    return PathState::Same;
}

bool InputFolder::moveInto(const QString &name, const QString &sub, QString *movedTo,
                           QString *reason) const
{
    const QByteArray from = QFile::encodeName(name);
    const QByteArray subName = QFile::encodeName(sub);
    if (m_fd < 0 || name.isEmpty() || name.contains(u'/') || sub.contains(u'/')) {
        *reason = systemErrorText(ENOENT);
        return false;
    }
    if (::mkdirat(m_fd, subName.constData(), 0777) != 0 && errno != EEXIST) {
        *reason = systemErrorText(errno);
        return false;
    }
    // The sub-folder is opened without following a link: whatever a link there leads to is
    // never written into.
    const int subFd =
        ::openat(m_fd, subName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (subFd < 0) {
        *reason = errno == ELOOP ? inUserLanguage(QStringLiteral("%1 是符号链接，不是文件夹"),
                                                  QStringLiteral("%1 is a symbolic link, not a "
                                                                 "folder"))
                                       .arg(sub)
                  : errno == ENOTDIR ? inUserLanguage(QStringLiteral("%1 不是文件夹"),
                                                      QStringLiteral("%1 is not a folder"))
                                           .arg(sub)
                                     : systemErrorText(errno);
        return false;
    }
    bool moved = false;
    int error = 0;
    for (int n = 1; n < 10000 && !moved; ++n) {
        const QString target = numberedFileName(name, n);
        const QByteArray to = QFile::encodeName(target);
        // Never replaces what is at the new name; where the file system cannot say so in one
        // step, a hard link and an unlink do the same.
        int done = ::renameat2(m_fd, from.constData(), subFd, to.constData(), RENAME_NOREPLACE);
        if (done != 0 && (errno == EINVAL || errno == ENOSYS)) {
            done = ::linkat(m_fd, from.constData(), subFd, to.constData(), 0);
            if (done == 0)
                ::unlinkat(m_fd, from.constData(), 0);
        }
        if (done == 0) {
            moved = true;
            *movedTo = m_path + u'/' + sub + u'/' + target;
        } else if (errno != EEXIST) {
            error = errno;
            break;
        }
    }
    ::close(subFd);
    if (!moved)
        *reason = systemErrorText(error ? error : EEXIST);
    return moved;
}
