#include "files/safewrite.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString cannotWrite(const QString &path, const QString &why)
{
    return inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
        .arg(QDir::toNativeSeparators(path), why);
}

} // namespace

bool writeNewFilesIn(const QString &folder, const QList<std::pair<QString, QByteArray>> &files,
                     QString *reason)
{
    const QDir dir(folder);
    for (const auto &[name, bytes] : files) {
        const QString final = dir.filePath(name);
        const QString partial = dir.filePath(QLatin1Char('.') + name + QLatin1String(".part"));
        QFile file(partial);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            *reason = cannotWrite(partial, file.errorString());
            return false;
        }
        const bool written = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        // QFile::rename never replaces what is at the new name.
        if (!written || !QFile::rename(partial, final)) {
            *reason = written ? inUserLanguage(QStringLiteral("无法写入 %1：那里已有东西"),
                                               QStringLiteral("cannot write %1: something is "
                                                              "already there"))
                                    .arg(QDir::toNativeSeparators(final))
                              : cannotWrite(final, file.errorString());
            QFile::remove(partial);
            return false;
        }
    }
    return true;
}

bool replaceOwnerOnlyFile(const QString &path, const QByteArray &bytes, QString *reason)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *reason = cannotWrite(path, file.errorString());
        return false;
    }
    return true;
}

bool openOwnFile(const QString &path, OwnFileMode mode, QFile *file, QString *reason)
{
    const QFileInfo info(path);
    if (info.isSymLink() || info.isShortcut()) {
        *reason =
            inUserLanguage(QStringLiteral("这是符号链接"), QStringLiteral("it is a symbolic link"));
        return false;
    }
    if (info.exists() && !info.isFile()) {
        *reason = inUserLanguage(QStringLiteral("这不是普通文件"),
                                 QStringLiteral("it is not a regular file"));
        return false;
    }
    file->setFileName(path);
    const QIODevice::OpenMode openMode =
        mode == OwnFileMode::Append
            ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::ExistingOnly
            : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!file->open(openMode)) {
        *reason = file->errorString();
        return false;
    }
    return true;
}
