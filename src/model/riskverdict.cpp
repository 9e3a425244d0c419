#include "model/riskverdict.h"

#include "model/buyerqueryresult.h"
#include "model/creditlevel.h"

#include <QRegularExpression>

namespace {

// A figure as the reasons show it: 97, 96.5.
QString figure(double value)
{
    return QString::number(value, 'g', 12);
}

} // namespace

QString riskLevelText(RiskLevel level)
{
    switch (level) {
    case RiskLevel::Low:
        return QStringLiteral("低");
    case RiskLevel::Medium:
        return QStringLiteral("中");
    case RiskLevel::High:
        return QStringLiteral("高");
    case RiskLevel::Unknown:
        break;
    }
    return QStringLiteral("未知");
}

QDate parseRegistrationDate(const QString &text)
{
    static const QRegularExpression date(
        QStringLiteral("^\\s*(\\d{4})(?:-(\\d{1,2})-(\\d{1,2})|/(\\d{1,2})/(\\d{1,2})|"
                       "年(\\d{1,2})月(\\d{1,2})日)(?:\\s.*)?$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = date.match(text);
    if (!m.hasMatch())
        return {};
    // Exactly one of the three pairs matched.
    for (int month = 2; month <= 6; month += 2) {
        if (m.capturedLength(month) > 0)
            return QDate(m.captured(1).toInt(), m.captured(month).toInt(),
                         m.captured(month + 1).toInt());
    }
    return {};
}

RiskVerdict assessRisk(const BuyerCreditRecord &record, const PageResults &pages,
                       const RiskSettings &settings, const QDate &today, const SellerNotes *notes)
{
    RiskVerdict verdict;
    QStringList missing; // figures a check needs that the pages did not give
    int count = 0;       // reasons from the buyer's figures
    const auto reason = [&](const QString &text) {
        verdict.reasons.append(text);
        ++count;
    };

    if (notes && notes->listed) {
        verdict.reasons.append(notes->note.trimmed().isEmpty()
                                   ? QStringLiteral("在黑名单中")
                                   : QStringLiteral("在黑名单中：") + notes->note.trimmed());
    }

    if (settings.newAccountDays > 0) {
        if (record.regTime.trimmed().isEmpty()) {
            missing.append(QStringLiteral("注册时间"));
        } else {
            const QDate registered = parseRegistrationDate(record.regTime);
            const qint64 days = registered.isValid() ? registered.daysTo(today) : -1;
            // A date after today is as unreadable as garbage.
            if (days >= 0 && days < settings.newAccountDays)
                reason(
                    QStringLiteral("注册仅%1天，不足%2天").arg(days).arg(settings.newAccountDays));
        }
    }

    if (settings.minGoodRate > 0) {
        bool ok = false;
        const double rate = QString(record.goodRate).remove(u',').trimmed().toDouble(&ok);
        if (!ok)
            missing.append(QStringLiteral("好评率"));
        else if (rate < settings.minGoodRate)
            reason(QStringLiteral("好评率%1%，低于%2%")
                       .arg(record.goodRate.trimmed(), figure(settings.minGoodRate)));
    }

    if (settings.badGivenAtLeast > 0) {
        const std::optional<qint64> given = readCount(record.badGiven);
        if (!given)
            missing.append(QStringLiteral("给他人差评"));
        else if (*given >= settings.badGivenAtLeast)
            reason(QStringLiteral("给他人差评%1个（%2个及以上），常给卖家差评")
                       .arg(*given)
                       .arg(settings.badGivenAtLeast));
    }

    if (settings.requireVerification) {
        if (record.verification.isEmpty())
            missing.append(QStringLiteral("认证信息"));
        else if (record.verification == QStringLiteral("没有认证"))
            reason(QStringLiteral("没有认证"));
    }

    const std::optional<qint64> score = creditScore(record);
    if (!score)
        missing.append(QStringLiteral("信用积分"));
    else if (*score < settings.minCreditScore)
        reason(QStringLiteral("信用积分%1，低于%2").arg(*score).arg(settings.minCreditScore));

    QStringList blockedPages;
    for (const PageResult &page : pages) {
        if (page.outcome == PageOutcome::Blocked)
            blockedPages.append(buyerPageTitle(page.page));
    }
    verdict.blocked = !blockedPages.isEmpty();
    if (verdict.blocked)
        verdict.reasons.append(QStringLiteral("页面被拦截：") + blockedPages.join(u'、'));
    if (!missing.isEmpty())
        verdict.reasons.append(QStringLiteral("未读到") + missing.join(u'、'));

    if ((notes && notes->listed) || count >= qMax(1, settings.highAtReasons))
        verdict.level = RiskLevel::High;
    else if (verdict.blocked || !missing.isEmpty())
        verdict.level = RiskLevel::Unknown;
    else
        verdict.level = count > 0 ? RiskLevel::Medium : RiskLevel::Low;
    return verdict;
}
