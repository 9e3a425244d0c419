#include "model/uilanguage.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>

namespace {

std::atomic<bool> g_keptChinese{false};

} // namespace

void keepMessagesChinese(bool keep)
{
    g_keptChinese = keep;
}

bool messagesKeptChinese()
{
    return g_keptChinese;
}

bool englishMessages()
{
    if (g_keptChinese)
        return false;
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
