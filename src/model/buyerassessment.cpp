#include "model/buyerassessment.h"

QString BuyerAssessment::creditScoreText() const
{
    return creditScore ? QString::number(*creditScore) : QString();
}

BuyerAssessment assessBuyer(const BuyerQueryResult &result, const RiskSettings &settings,
                            const QDate &today, const SellerNotes *notes)
{
    BuyerAssessment a;
    a.creditScore = creditScore(result.record);
    if (a.creditScore)
        a.creditLevel = creditLevelForScore(*a.creditScore);
    a.risk = assessRisk(result.record, result.pages, settings, today, notes);
    return a;
}

QString buyerPageOutcomesText(const PageResults &pages)
{
    QStringList parts;
    for (const PageResult &page : pages) {
        if (!isBuyerPage(page.page))
            continue;
        const char16_t *outcome = u"";
        switch (page.outcome) {
        case PageOutcome::Ok:
            outcome = u"正常";
            break;
        case PageOutcome::Empty:
            outcome = u"空白";
            break;
        case PageOutcome::Timeout:
            outcome = u"超时";
            break;
        case PageOutcome::NetworkError:
            outcome = u"网络错误";
            break;
        case PageOutcome::TooLarge:
            outcome = u"过大";
            break;
        case PageOutcome::Cancelled:
            outcome = u"已取消";
            break;
        case PageOutcome::Refused:
            outcome = u"地址无效";
            break;
        case PageOutcome::Blocked:
            outcome = u"被拦截";
            break;
        }
        parts.append(buyerPageTitle(page.page) + u' ' + QString::fromUtf16(outcome));
    }
    return parts.join(QStringLiteral("，"));
}
