#include "watch/batchfindings.h"

#include "files/querysettings.h"
#include "lookup/lookupservice.h"
#include "model/uilanguage.h"
#include "watch/notifier.h"

#include <QFileInfo>

namespace {

QList<BuyerCreditRecord> recordsOf(const QList<StoredLookup> &lookups)
{
    QList<BuyerCreditRecord> records;
    records.reserve(lookups.size());
    for (const StoredLookup &l : lookups)
        records.append(l.record);
    return records;
}

FieldFill historyBefore(const SellerDatabase *database, const QDateTime &until)
{
    return database->fieldFill(until.addDays(-kStaleHistoryDays), until);
}

} // namespace

QList<StaleField> staleFieldsOfBatch(const QList<LookupOutcome> &outcomes,
                                     const SellerDatabase *database, const QDateTime &began)
{
    if (!database || !database->canRead())
        return {};
    QList<BuyerCreditRecord> now;
    for (const LookupOutcome &o : outcomes) {
        if (o.status == LookupStatus::Found)
            now.append(o.result.record);
    }
    if (now.size() < kStaleMinFound)
        return {};
    return findStaleFields(countFilled(now), historyBefore(database, began));
}

QList<StaleField> RecentLookupsCheck::check(const SellerDatabase *database)
{
    if (!database || !database->canRead())
        return {};
    HistoryFilter filter;
    filter.limit = kStaleSlidingWindow;
    filter.withPages = false;
    const QList<StoredLookup> recent = database->history(filter);
    if (recent.size() < kStaleMinFound)
        return {};
    const QDateTime first = recent.last().time;
    if (!m_until.isValid() || qAbs(m_until.secsTo(first)) > 3600) {
        m_before = historyBefore(database, first);
        m_until = first;
    }
    return findStaleFields(countFilled(recordsOf(recent)), m_before);
}

QString configurationName(const LookupService &service)
{
    // The local file wins over the download, as in the service.
    const QuerySettings settings = service.settings();
    if (!service.localConfigPath().isEmpty())
        return QFileInfo(service.localConfigPath()).absoluteFilePath();
    return siteAddress(settings.mainHost.isEmpty() ? settings.secondHost : settings.mainHost,
                       settings.mainHost.isEmpty() ? "/soft_set/fmj2.htm" : "/soft/qvdl/fmj2.htm");
}

QList<ReviewEntry> reviewEntriesOf(const QList<BatchRow> &rows, const QString &source)
{
    QList<ReviewEntry> entries;
    const QDateTime now = QDateTime::currentDateTime();
    for (const BatchRow &row : rows) {
        if (row.risk != RiskLevel::High)
            continue;
        ReviewEntry e;
        e.buyerId = row.record.buyerId.isEmpty() ? row.id.trimmed() : row.record.buyerId;
        e.reasons = row.reasons;
        e.source = source;
        e.queued = now;
        const QStringList numbers =
            row.orderNumbers.isEmpty() ? QStringList{QString()} : row.orderNumbers;
        for (const QString &number : numbers) {
            e.orderNumber = number;
            entries.append(e);
        }
    }
    return entries;
}

QString highRiskText(const QString &buyerId, const QStringList &reasons)
{
    return inUserLanguage(QStringLiteral("高风险：%1（%2）"), QStringLiteral("high risk: %1 (%2)"))
        .arg(buyerId, reasons.join(inUserLanguage(QStringLiteral("；"), QStringLiteral("; "))));
}

QString highRiskNotice(const QString &buyerId, const QStringList &reasons)
{
    QStringList shortReasons;
    for (const QString &reason : reasons)
        shortReasons.append(Notifier::shortText(reason));
    return highRiskText(Notifier::shortName(buyerId), shortReasons);
}
