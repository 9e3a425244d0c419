#include "model/ownerfolders.h"

#include "model/uilanguage.h"

#include <QDir>

// The user's profile folder is private to the user already: the folders under it are made as
// they come.
bool makeMissingFolders(const QString &folder, QString *reason)
{
    if (QDir().mkpath(folder))
        return true;
    *reason = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                             QStringLiteral("cannot create the folder %1"))
                  .arg(QDir::toNativeSeparators(folder));
    return false;
}

bool makeOwnerOnlyFolder(const QString &folder, QString *reason)
{
    return makeMissingFolders(folder, reason);
}
