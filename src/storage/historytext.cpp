#include "storage/historytext.h"

#include "files/csvwriter.h"
#include "model/batchrow.h"
#include "model/lookupstatus.h"

namespace {

struct Compared
{
    const char16_t *label;
    QString BuyerCreditRecord::*field;
};

const Compared kCompared[] = {
    {u"好评", &BuyerCreditRecord::goodCount},
    {u"中评", &BuyerCreditRecord::neutralCount},
    {u"差评", &BuyerCreditRecord::badCount},
    {u"好评率", &BuyerCreditRecord::goodRate},
    {u"给他人中评", &BuyerCreditRecord::neutralGiven},
    {u"给他人差评", &BuyerCreditRecord::badGiven},
    {u"认证", &BuyerCreditRecord::verification},
    {u"昵称", &BuyerCreditRecord::nick},
    {u"地址", &BuyerCreditRecord::address},
};

} // namespace

QString lastLookupLine(const StoredLookup &previous, const BuyerCreditRecord &current)
{
    QStringList changes;
    for (const Compared &c : kCompared) {
        const QString &before = previous.record.*c.field;
        const QString &now = current.*c.field;
        if (!before.isEmpty() && !now.isEmpty() && before != now)
            changes.append(QString::fromUtf16(c.label) + u' ' + before + u'→' + now);
    }
    return QStringLiteral("上次查询 ") + previous.time.date().toString(Qt::ISODate) + u'：' +
           (changes.isEmpty() ? QStringLiteral("没有变化") : changes.join(u'，'));
}

QString blacklistMark(const BuyerNote &note)
{
    if (note.listed != ListMark::Blacklist)
        return {};
    return QStringLiteral("黑名单") + (note.reason.isEmpty() ? QString() : u'：' + note.reason);
}

SellerNotes sellerNotes(const BuyerNote &note)
{
    SellerNotes notes;
    notes.listed = note.listed == ListMark::Blacklist;
    notes.note = notes.listed ? note.reason : QString();
    return notes;
}

void applySellerNote(BatchRow *row, const BuyerNote &note)
{
    row->seller = sellerNotes(note);
    row->sellerMark =
        note.listed == ListMark::Trusted ? QStringLiteral("信任") : blacklistMark(note);
    row->sellerNote = note.note;
}

QString pageOutcomesText(const QList<StoredPage> &pages)
{
    static const PageOutcome kOutcomes[] = {PageOutcome::Ok,       PageOutcome::Empty,
                                            PageOutcome::Timeout,  PageOutcome::NetworkError,
                                            PageOutcome::TooLarge, PageOutcome::Cancelled,
                                            PageOutcome::Refused,  PageOutcome::Blocked};
    QStringList outcomes;
    for (const StoredPage &p : pages) {
        // Stored as PageResult::outcomeText() says it: "name" or "name: detail".
        const QString name = p.outcome.section(QLatin1String(": "), 0, 0);
        const QString detail = p.outcome.section(QLatin1String(": "), 1);
        QString word = name; // an outcome this program does not know stays as it was stored
        for (PageOutcome outcome : kOutcomes) {
            PageResult page;
            page.outcome = outcome;
            if (page.outcomeName() == name)
                word = pageOutcomeWord(outcome);
        }
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
