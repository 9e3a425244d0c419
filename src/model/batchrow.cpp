#include "model/batchrow.h"

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
