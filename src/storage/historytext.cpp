#include "storage/historytext.h"

#include "model/batchrow.h"

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
    // Only lookups that found the buyer (their credit page was read) compare: against one that
    // found nobody, "no change" would be a claim about fields never read.
    if (previous.record.creditUrl.isEmpty() || current.creditUrl.isEmpty())
        return {};
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
