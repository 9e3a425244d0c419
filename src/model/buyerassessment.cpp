#include "model/buyerassessment.h"

#include "model/lookupstatus.h"

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
        parts.append(buyerPageTitle(page.page) + u' ' + pageOutcomeWords(page));
    }
    return parts.join(QStringLiteral("，"));
}
