#include "model/owneronly.h"

#include "model/uilanguage.h"

#include <QDir>
#include <QFile>

bool createOwnerOnlyFile(const QString &path, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                                QStringLiteral("cannot create the folder %1"))
                     .arg(QDir::toNativeSeparators(folder));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !file.exists()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool ownerMayWrite(const QFileInfo &info)
{
    return info.isWritable();
}

bool ownedByUser(const QFileInfo &)
{
    return true;
}
