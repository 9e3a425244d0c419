#include "files/historycsv.h"

#include "files/csvwriter.h"
#include "model/batchrow.h"
#include "model/lookupstatus.h"

QString pageOutcomesText(const QList<StoredPage> &pages)
{
    QStringList outcomes;
    for (const StoredPage &p : pages) {
        // Stored as PageResult::outcomeText() says it: "name" or "name: detail".
        const QString name = p.outcome.section(QLatin1String(": "), 0, 0);
        const QString detail = p.outcome.section(QLatin1String(": "), 1);
        PageOutcome outcome = PageOutcome::Ok;
        // An outcome this program does not know stays as it was stored.
        const QString word = pageOutcomeFromName(name, &outcome) ? pageOutcomeWord(outcome) : name;
        outcomes.append(detail.isEmpty() ? word : word + u'：' + detail);
    }
    return outcomes.join(u'；');
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
