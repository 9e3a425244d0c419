#include "files/historycsv.h"

#include "files/csvwriter.h"
#include "model/batchrow.h"

QString pageOutcomesText(const QList<StoredPage> &pages)
{
    QStringList outcomes;
    for (const StoredPage &p : pages)
        outcomes.append(p.outcome);
    return outcomes.join(QLatin1String("; "));
}

QByteArray historyCsv(const QList<StoredLookup> &lookups)
{
    QByteArray out("\xEF\xBB\xBF");
    out += csvRecord(QStringList{QStringLiteral("查询时间")} + batchTableHeaders() +
                     QStringList{QStringLiteral("页面")});
    for (const StoredLookup &l : lookups) {
        const BuyerCreditRecord &r = l.record;
        QStringList fields{l.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
        for (const QString *value : {&r.buyerId, &r.nick, &r.regTime, &r.address, &r.verification,
                                     &r.goodRate, &r.goodCount, &r.neutralCount, &r.badCount,
                                     &r.neutralGiven, &r.badGiven, &r.creditUrl})
            fields.append(*value);
        fields.append(pageOutcomesText(l.pages));
        out += csvRecord(fields);
    }
    return out;
}
