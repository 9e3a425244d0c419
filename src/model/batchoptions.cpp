#include "model/batchoptions.h"

#include "model/uilanguage.h"

qint64 batchMsLeft(qint64 elapsedMs, int finished, int total)
{
    if (finished <= 0 || total <= finished)
        return finished > 0 ? 0 : -1;
    return elapsedMs * (total - finished) / finished;
}

QString batchTimeLeftText(qint64 msLeft)
{
    if (msLeft < 0)
        return {};
    const qint64 seconds = (msLeft + 999) / 1000;
    const qint64 minutes = seconds / 60;
    if (minutes > 0)
        return inUserLanguage(QStringLiteral("预计还需 %1 分 %2 秒"),
                              QStringLiteral("about %1 min %2 s left"))
            .arg(minutes)
            .arg(seconds % 60);
    return inUserLanguage(QStringLiteral("预计还需 %1 秒"), QStringLiteral("about %1 s left"))
        .arg(seconds);
}

QString batchPauseText(int seconds)
{
    return inUserLanguage(QStringLiteral("市场要求验证，暂停 %1 秒…"),
                          QStringLiteral("the marketplace asks for a check: pausing %1 s…"))
        .arg(seconds);
}
