#include "files/outputguard.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mode a new file gets: 0666 less the process's umask (read where reading leaves it as it
// is; setting it to read it would race with other threads creating files).
mode_t newFileMode()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return 0666 & ~mode_t(mask);
            }
        }
    }
    return 0644;
}

// A path with its folder's links and dots resolved, for files that may not exist yet; "" when
// the folder does not exist either.
QString canonicalName(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + u'/' + info.fileName();
}

// Which own file the file at path is (by device and inode when both exist, else by canonical
// name); null for none.
const OwnFile *ownFileAt(const QString &path, const struct stat *st, const QList<OwnFile> &ownFiles)
{
    const QString name = canonicalName(path);
    for (const OwnFile &own : ownFiles) {
        struct stat ownStat;
        if (st && ::stat(QFile::encodeName(own.path).constData(), &ownStat) == 0) {
            if (ownStat.st_dev == st->st_dev && ownStat.st_ino == st->st_ino)
                return &own;
            continue;
        }
        const QString ownName = canonicalName(own.path);
        if (!name.isEmpty() && name == ownName)
            return &own;
    }
    return nullptr;
}

} // namespace

bool resolveOutput(const QString &path, const QList<OwnFile> &ownFiles, OutputTarget *target,
                   QString *reason)
{
    if (path.isEmpty()) {
        *reason = inUserLanguage(QStringLiteral("没有文件名"), QStringLiteral("no file name"));
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    target->path = path;
    if (::lstat(native.constData(), &st) != 0) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo(folder).isDir()) {
            *reason = inUserLanguage(QStringLiteral("文件夹 %1 不存在"),
                                     QStringLiteral("folder %1 does not exist"))
                          .arg(QDir::toNativeSeparators(folder));
            return false;
        }
        if (const OwnFile *own = ownFileAt(path, nullptr, ownFiles)) {
            *reason =
                inUserLanguage(QStringLiteral("这是%1"), QStringLiteral("it is %1")).arg(own->what);
            return false;
        }
        target->mode = newFileMode();
    } else {
        if (S_ISLNK(st.st_mode)) {
            // Written through: the link stays, and the file it leads to gets the bytes.
            char *real = ::realpath(native.constData(), nullptr);
            if (!real) {
                *reason = inUserLanguage(QStringLiteral("这是指向不存在文件的符号链接"),
                                         QStringLiteral("it is a symbolic link to a missing file"));
                return false;
            }
            target->path = QFile::decodeName(real);
            std::free(real);
            if (::stat(QFile::encodeName(target->path).constData(), &st) != 0) {
                *reason = inUserLanguage(QStringLiteral("这是指向不存在文件的符号链接"),
                                         QStringLiteral("it is a symbolic link to a missing file"));
                return false;
            }
        }
        if (S_ISDIR(st.st_mode)) {
            *reason =
                inUserLanguage(QStringLiteral("这是一个文件夹"), QStringLiteral("it is a folder"));
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            *reason = inUserLanguage(
                QStringLiteral("这不是普通文件（是设备、管道或套接字）"),
                QStringLiteral("it is not a regular file (a device, pipe or socket)"));
            return false;
        }
        if (const OwnFile *own = ownFileAt(target->path, &st, ownFiles)) {
            *reason =
                inUserLanguage(QStringLiteral("这是%1"), QStringLiteral("it is %1")).arg(own->what);
            return false;
        }
        // A file its owner made read-only is not replaced behind their back.
        if (::access(QFile::encodeName(target->path).constData(), W_OK) != 0) {
            *reason =
                inUserLanguage(QStringLiteral("没有权限"), QStringLiteral("permission denied"));
            return false;
        }
        target->existed = true;
        target->mode = st.st_mode & 07777;
        target->uid = st.st_uid;
        target->gid = st.st_gid;
    }
    const QString folder = QFileInfo(target->path).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        *reason = inUserLanguage(QStringLiteral("没有权限"), QStringLiteral("permission denied"));
        return false;
    }
    return true;
}

bool replaceOutput(const OutputTarget &target,
                   const std::function<bool(const QString &partial, QString *reason)> &write,
                   QString *reason)
{
    const QFileInfo info(target.path);
    QTemporaryFile partial(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                           QStringLiteral(".XXXXXX"));
    if (!partial.open()) {
        *reason = partial.errorString();
        return false;
    }
    partial.close();
    if (!write(partial.fileName(), reason))
        return false;
    const QByteArray partialName = QFile::encodeName(partial.fileName());
    if (target.existed && ::chown(partialName.constData(), target.uid, target.gid) != 0) {
        // Only root may give a file away; anyone else keeps the file as their own.
    }
    if (::chmod(partialName.constData(), target.mode) != 0 ||
        std::rename(partialName.constData(), QFile::encodeName(target.path).constData()) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

QByteArray fopenName(const QString &path)
{
    return QFile::encodeName(path);
}

bool writeOutputFile(const QString &path, const QByteArray &bytes, const QList<OwnFile> &ownFiles,
                     QString *reason)
{
    OutputTarget target;
    const auto write = [&bytes](const QString &partial, QString *why) {
        QFile file(partial);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0) {
            *why = file.errorString();
            return false;
        }
        return true;
    };
    return resolveOutput(path, ownFiles, &target, reason) && replaceOutput(target, write, reason);
}
