#include "model/stalerules.h"

#include "model/uilanguage.h"

#include <array>

namespace {

struct CheckedField
{
    const char *key;
    const char *header;
    QString BuyerCreditRecord::*field;
};

// Every field a page rule fills; the id is the input and the credit address the sign of a found
// buyer, so neither can go stale.
const std::array<CheckedField, 10> kFields = {{
    {"nick", "姓名(昵称)", &BuyerCreditRecord::nick},
    {"regTime", "注册时间", &BuyerCreditRecord::regTime},
    {"address", "地址", &BuyerCreditRecord::address},
    {"verification", "是否认证", &BuyerCreditRecord::verification},
    {"goodRate", "好评率", &BuyerCreditRecord::goodRate},
    {"goodCount", "好评数", &BuyerCreditRecord::goodCount},
    {"neutralCount", "中评数", &BuyerCreditRecord::neutralCount},
    {"badCount", "差评数", &BuyerCreditRecord::badCount},
    {"neutralGiven", "给他人中评", &BuyerCreditRecord::neutralGiven},
    {"badGiven", "给他人差评", &BuyerCreditRecord::badGiven},
}};

static_assert(kFields.size() == FieldFill::kFields);

} // namespace

const std::array<const char *, FieldFill::kFields> &staleCheckedFields()
{
    static const std::array<const char *, FieldFill::kFields> keys = [] {
        std::array<const char *, FieldFill::kFields> k = {};
        for (size_t i = 0; i < kFields.size(); ++i)
            k[i] = kFields[i].key;
        return k;
    }();
    return keys;
}

FieldFill countFilled(const QList<BuyerCreditRecord> &records)
{
    FieldFill c;
    for (const BuyerCreditRecord &r : records) {
        if (!isFoundRecord(r))
            continue;
        ++c.found;
        for (size_t i = 0; i < kFields.size(); ++i) {
            if (!(r.*kFields[i].field).trimmed().isEmpty())
                ++c.filled[i];
        }
    }
    return c;
}

bool isFoundRecord(const BuyerCreditRecord &record)
{
    return !record.creditUrl.trimmed().isEmpty();
}

QList<StaleField> findStaleFields(const QList<BuyerCreditRecord> &now,
                                  const QList<BuyerCreditRecord> &before)
{
    return findStaleFields(countFilled(now), countFilled(before));
}

QList<StaleField> findStaleFields(const FieldFill &n, const FieldFill &b)
{
    QList<StaleField> stale;
    if (n.found < kStaleMinFound || b.found < kStaleMinFound)
        return stale;
    for (size_t i = 0; i < kFields.size(); ++i) {
        // In whole numbers: filled * 100 against the percentages, no rounding at the edges.
        const bool wasFilled = qint64(b.filled[i]) * 100 >= qint64(kStaleFilledBefore) * b.found;
        const bool isEmpty = qint64(n.filled[i]) * 100 <= qint64(kStaleFilledNow) * n.found;
        if (wasFilled && isEmpty) {
            stale.append({QString::fromLatin1(kFields[i].key), QString::fromUtf8(kFields[i].header),
                          n.found, n.found - n.filled[i], b.filled[i], b.found});
        }
    }
    return stale;
}

QString staleFieldText(const StaleField &field)
{
    return inUserLanguage(QStringLiteral("%1：%2 个买家中 %3 个为空，页面规则可能已过期"),
                          QStringLiteral("%1: empty for %3 of %2 buyers, the page rules may be "
                                         "out of date"))
        .arg(inUserLanguage(field.header, field.key))
        .arg(field.found)
        .arg(field.empty);
}

QString staleRulesText(const QList<StaleField> &fields, const QString &configuration)
{
    QStringList parts;
    for (const StaleField &f : fields)
        parts.append(staleFieldText(f));
    QString text = parts.join(inUserLanguage(QStringLiteral("；"), QStringLiteral("; ")));
    if (!configuration.isEmpty())
        text += inUserLanguage(QStringLiteral("（查询配置：%1）"),
                               QStringLiteral(" (query configuration: %1)"))
                    .arg(configuration);
    return text;
}
