#include "model/buyerqueryresult.h"

#include <QHash>

QString buyerPageTitle(const QString &page)
{
    static const QHash<QString, QString> titles = {
        {BuyerPage::Search, QStringLiteral("搜索页")},
        {BuyerPage::Detail, QStringLiteral("信用页")},
        {BuyerPage::NeutralGiven, QStringLiteral("给他人中评页")},
        {BuyerPage::BadGiven, QStringLiteral("给他人差评页")},
        {BuyerPage::NameCard, QStringLiteral("名片页")},
        {BuyerPage::Personal, QStringLiteral("个人空间页")},
        {BuyerPage::Popup, QStringLiteral("弹出名片页")},
        {BuyerPage::Config, QStringLiteral("查询配置")},
        {BuyerPage::AreaTable, QStringLiteral("地区表")},
    };
    return titles.value(page, page);
}

bool isBuyerPage(const QString &page)
{
    return !page.isEmpty() && page != BuyerPage::Config && page != BuyerPage::AreaTable;
}
