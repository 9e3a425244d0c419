#include "model/batchrow.h"

#include <algorithm>

const QStringList &batchTableHeaders()
{
    static const QStringList headers = {
        QStringLiteral("买家名称"),   QStringLiteral("姓名(昵称)"), QStringLiteral("注册时间"),
        QStringLiteral("地址"),       QStringLiteral("是否认证"),   QStringLiteral("好评率"),
        QStringLiteral("好评数"),     QStringLiteral("中评数"),     QStringLiteral("差评数"),
        QStringLiteral("给他人中评"), QStringLiteral("给他人差评"), QStringLiteral("信用网址"),
    };
    return headers;
}

const QStringList &batchTableExtraHeaders()
{
    static const QStringList headers = {QStringLiteral("信用积分"), QStringLiteral("信用等级"),
                                        QStringLiteral("风险"),     QStringLiteral("风险原因"),
                                        QStringLiteral("页面情况"), QStringLiteral("名单"),
                                        QStringLiteral("备注")};
    return headers;
}

const QStringList &batchTableOrderHeaders()
{
    static const QStringList headers = {QStringLiteral("订单数"), QStringLiteral("订单编号")};
    return headers;
}

void sortRowsByRisk(QList<BatchRow> *rows)
{
    const auto rank = [](RiskLevel level) {
        switch (level) {
        case RiskLevel::High:
            return 0;
        case RiskLevel::Unknown:
            return 1;
        case RiskLevel::Medium:
            return 2;
        case RiskLevel::Low:
            return 3;
        }
        return 1;
    };
    std::stable_sort(rows->begin(), rows->end(), [&](const BatchRow &a, const BatchRow &b) {
        return rank(a.risk) < rank(b.risk);
    });
}
