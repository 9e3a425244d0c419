#pragma once

#include "model/buyerqueryresult.h"
#include "model/creditlevel.h"
#include "model/riskverdict.h"

#include <QDate>
#include <QString>

#include <optional>

// What the front ends show beside a buyer's record: the credit score and level, and the risk
// verdict with its reasons.
struct BuyerAssessment
{
    std::optional<qint64> creditScore;
    CreditLevel creditLevel;
    RiskVerdict risk;

    // The score in decimal, "" when there is none.
    QString creditScoreText() const;
};

BuyerAssessment assessBuyer(const BuyerQueryResult &result, const RiskSettings &settings,
                            const QDate &today, const SellerNotes *notes = nullptr);

// The buyer's pages and how each fetch ended, for a reader: "搜索页 正常，信用页 被拦截，…".
QString buyerPageOutcomesText(const PageResults &pages);
