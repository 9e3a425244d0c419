#include "model/ownerfolders.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool makeMissingFolders(const QString &folder, QString *reason)
{
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    // The missing folders on the path, made from the top down, each owner-only.
    QStringList missing;
    for (QString at = absolute; !QFileInfo::exists(at) && !QFileInfo(at).isSymLink();) {
        missing.prepend(at);
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    for (const QString &path : missing) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
            *reason = inUserLanguage(QStringLiteral("无法创建文件夹 %1：%2"),
                                     QStringLiteral("cannot create the folder %1: %2"))
                          .arg(path, errnoText());
            return false;
        }
    }
    return true;
}

bool makeOwnerOnlyFolder(const QString &folder, QString *reason)
{
    if (!makeMissingFolders(folder, reason))
        return false;
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    // Checked on the opened folder, never through a link: a shared folder a link leads to keeps
    // its mode.
    const int fd = ::open(QFile::encodeName(absolute).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) {
            if (QFileInfo(absolute).isDir())
                return true; // a link to a folder: used as it is
        }
        *reason = inUserLanguage(QStringLiteral("无法创建文件夹 %1：%2"),
                                 QStringLiteral("cannot create the folder %1: %2"))
                      .arg(absolute, errnoText());
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0700)
        ::fchmod(fd, 0700);
    ::close(fd);
    return true;
}
