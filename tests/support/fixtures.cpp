#include "fixtures.h"

#include "web/codepage936.h"

#include <QFile>

QByteArray gbk(const QString &text)
{
    return encode936(text);
}

QString indexedListText(const ConfigEntries &entries)
{
    QString text;
    for (const auto &[index, value] : entries)
        text += value + u'#' + QString::number(index) + u'#';
    return text;
}

ConfigEntries marketplaceEntries(const QString &host)
{
    return {{4, host + QStringLiteral("/detail/{xyid}.htm")},
            {5, QStringLiteral("rateA")},
            {8, QStringLiteral("id=\"credit\"")},
            {9, QStringLiteral(">")},
            {10, QStringLiteral("<")},
            {24, QStringLiteral("认证：")},
            {25, QStringLiteral("<span>")},
            {26, QStringLiteral("</span>")},
            {27, QStringLiteral("支付宝")},
            {28, QStringLiteral("手机")},
            {34, QStringLiteral("rateListNo=")},
            {36, QStringLiteral("\"")},
            {37, host + QStringLiteral("/given/neutral?no={urlno}")},
            {38, QStringLiteral("rate-neutral")},
            {39, host + QStringLiteral("/given/bad?no={urlno}")},
            {61, QStringLiteral("areaCode")},
            {62, QStringLiteral("=")},
            {63, QStringLiteral(";")},
            {64, QStringLiteral("<li class=\"member\">")},
            {65, QStringLiteral("uid=")},
            {66, QStringLiteral("\"")},
            {67, QStringLiteral(">")},
            {68, QStringLiteral("</a>")},
            {71, QStringLiteral("中评")},
            {72, QStringLiteral("：")},
            {73, QStringLiteral("<")},
            {74, QStringLiteral("差评")},
            {75, QStringLiteral("：")},
            {76, QStringLiteral("<")}};
}

qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}
