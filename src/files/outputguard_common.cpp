#include "files/outputguard.h"

#include "model/uilanguage.h"

#include <QDir>

QList<OwnFile> programFiles(const QString &databasePath, const QString &settingsPath,
                            const QString &idFilePath)
{
    QList<OwnFile> files;
    if (!databasePath.isEmpty()) {
        const QString database =
            inUserLanguage(QStringLiteral("卖家的数据库"), QStringLiteral("the seller's database"));
        files.append({databasePath, database});
        // SQLite's journals: a file written there would be taken for one.
        for (const char *suffix : {"-wal", "-shm", "-journal"})
            files.append({databasePath + QLatin1String(suffix), database});
    }
    if (!settingsPath.isEmpty())
        files.append({settingsPath, inUserLanguage(QStringLiteral("设置文件"),
                                                   QStringLiteral("the settings file"))});
    if (!idFilePath.isEmpty())
        files.append({idFilePath,
                      inUserLanguage(QStringLiteral("买家ID文件"), QStringLiteral("the id file"))});
    return files;
}

bool checkOutput(const QString &path, const QList<OwnFile> &ownFiles, QString *error)
{
    OutputTarget target;
    QString reason;
    if (resolveOutput(path, ownFiles, &target, &reason))
        return true;
    if (error)
        *error =
            inUserLanguage(QStringLiteral("无法写入 %1：%2"), QStringLiteral("cannot write %1: %2"))
                .arg(QDir::toNativeSeparators(path), reason);
    return false;
}
