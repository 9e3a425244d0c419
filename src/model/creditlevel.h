#pragma once

#include "model/buyercreditrecord.h"

#include <QString>

#include <optional>

// The buyer's credit as the marketplace ranks it: the score is the good ratings received minus
// the bad ones, and the score places the buyer on a ladder of hearts, diamonds, crowns and gold
// crowns, one to five of each.

enum class CreditTier { None, Heart, Diamond, Crown, GoldCrown };

struct CreditLevel
{
    CreditTier tier = CreditTier::None;
    int count = 0; // 1 to 5 icons of the tier; 0 with None

    bool operator==(const CreditLevel &o) const { return tier == o.tier && count == o.count; }
};

// A count as the pages write it: decimal digits, optionally grouped by thousands ("1,234"),
// surrounding blanks allowed. Nothing for any other text, and for a count past the integer range.
std::optional<qint64> readCount(const QString &text);

// goodCount - badCount. Nothing when the good count is not a count; a bad count that is not one
// counts as none.
std::optional<qint64> creditScore(const BuyerCreditRecord &record);

// 0 to 3 (and below): None; 4 to 10: one heart … 151 to 250: five hearts; 251 to 500: one
// diamond … to 10000; then crowns to 500000; then gold crowns, five above 10000000.
CreditLevel creditLevelForScore(qint64 score);

// "4心", "3钻", "1冠", "2金冠"; "" for None.
QString creditLevelText(const CreditLevel &level);
