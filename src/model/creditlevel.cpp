#include "model/creditlevel.h"

#include <limits>

namespace {

// The highest score of each step of the ladder; a score above the last is five gold crowns.
constexpr qint64 kStepTops[] = {3,      10,     40,      90,      150,     250,     500,
                                1000,   2000,   5000,    10000,   20000,   50000,   100000,
                                200000, 500000, 1000000, 2000000, 5000000, 10000000};

} // namespace

std::optional<qint64> readCount(const QString &text)
{
    const QString s = text.trimmed();
    if (s.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    int group = 0; // digits since the last separator
    bool grouped = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u',') {
            // A separator follows one to three digits, later ones exactly three.
            if (group == 0 || group > 3 || (grouped && group != 3))
                return std::nullopt;
            grouped = true;
            group = 0;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
        ++group;
    }
    if (group == 0 || (grouped && group != 3))
        return std::nullopt;
    return value;
}

std::optional<qint64> creditScore(const BuyerCreditRecord &record)
{
    const std::optional<qint64> good = readCount(record.goodCount);
    if (!good)
        return std::nullopt;
    return *good - readCount(record.badCount).value_or(0);
}

CreditLevel creditLevelForScore(qint64 score)
{
    int step = 0; // how many step tops the score passes
    for (qint64 top : kStepTops) {
        if (score <= top)
            break;
        ++step;
    }
    if (step == 0)
        return {};
    return {CreditTier(1 + (step - 1) / 5), 1 + (step - 1) % 5};
}

QString creditLevelText(const CreditLevel &level)
{
    const char16_t *unit = nullptr;
    switch (level.tier) {
    case CreditTier::None:
        return {};
    case CreditTier::Heart:
        unit = u"心";
        break;
    case CreditTier::Diamond:
        unit = u"钻";
        break;
    case CreditTier::Crown:
        unit = u"冠";
        break;
    case CreditTier::GoldCrown:
        unit = u"金冠";
        break;
    }
    return QString::number(level.count) + QString::fromUtf16(unit);
}
