#include "model/uilanguage.h"

#include <QByteArray>
#include <QtGlobal>

bool englishMessages()
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("en");
    }
    return false;
}

QString inUserLanguage(const QString &zh, const QString &en)
{
    return englishMessages() ? en : zh;
}
