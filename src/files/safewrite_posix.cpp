#include "files/safewrite.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return ::fsync(fd) == 0;
}

QString cannotWrite()
{
    return inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"));
}

} // namespace

bool writeNewFilesIn(const QString &folder, const QList<std::pair<QString, QByteArray>> &files,
                     QString *reason)
{
    const int dir =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        *reason = inUserLanguage(QStringLiteral("无法打开文件夹 %1：%2"),
                                 QStringLiteral("cannot open the folder %1: %2"))
                      .arg(folder, errnoText());
        return false;
    }
    bool ok = true;
    for (const auto &[name, bytes] : files) {
        const QByteArray final = QFile::encodeName(name);
        const QByteArray partial = '.' + final + ".part";
        const int fd = ::openat(dir, partial.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            *reason = inUserLanguage(QStringLiteral("无法创建 %1：%2"),
                                     QStringLiteral("cannot create %1: %2"))
                          .arg(QDir(folder).filePath(QFile::decodeName(partial)), errnoText());
            ok = false;
            break;
        }
        const bool written = writeAll(fd, bytes);
        const int writeErrno = errno;
        ::close(fd);
        // link() never replaces what is at the new name, a dangling link included.
        if (!written || ::linkat(dir, partial.constData(), dir, final.constData(), 0) != 0) {
            if (written)
                *reason = errno == EEXIST
                              ? inUserLanguage(
                                    QStringLiteral("无法写入 %1：那里已有东西"),
                                    QStringLiteral("cannot write %1: something is already there"))
                                    .arg(QDir(folder).filePath(name))
                              : cannotWrite().arg(QDir(folder).filePath(name), errnoText());
            else
                *reason = cannotWrite().arg(QDir(folder).filePath(name),
                                            QString::fromLocal8Bit(std::strerror(writeErrno)));
            ::unlinkat(dir, partial.constData(), 0);
            ok = false;
            break;
        }
        ::unlinkat(dir, partial.constData(), 0);
    }
    ::close(dir);
    return ok;
}

bool replaceOwnerOnlyFile(const QString &path, const QByteArray &bytes, QString *reason)
{
    const QFileInfo info(path);
    // QTemporaryFile makes its file new (O_EXCL), owner-only.
    QTemporaryFile partial(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                           QStringLiteral(".XXXXXX"));
    if (!partial.open()) {
        *reason = cannotWrite().arg(path, partial.errorString());
        return false;
    }
    if (partial.write(bytes) != bytes.size() || !partial.flush() ||
        ::fsync(partial.handle()) != 0) {
        *reason = cannotWrite().arg(path, partial.errorString());
        return false;
    }
    // rename() replaces a link at the name itself, whatever it leads to.
    if (std::rename(QFile::encodeName(partial.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        *reason = cannotWrite().arg(path, errnoText());
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

bool openOwnFile(const QString &path, OwnFileMode mode, QFile *file, QString *reason)
{
    const int flags =
        mode == OwnFileMode::Append ? O_RDWR | O_APPEND : O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *reason = errno == ELOOP ? inUserLanguage(QStringLiteral("这是符号链接"),
                                                  QStringLiteral("it is a symbolic link"))
                                 : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = inUserLanguage(QStringLiteral("这不是普通文件"),
                                 QStringLiteral("it is not a regular file"));
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const QIODevice::OpenMode openMode = mode == OwnFileMode::Append
                                             ? QIODevice::ReadWrite | QIODevice::Append
                                             : QIODevice::WriteOnly;
    if (!file->open(fd, openMode, QFileDevice::AutoCloseHandle)) {
        *reason = file->errorString();
        ::close(fd);
        return false;
    }
    return true;
}
