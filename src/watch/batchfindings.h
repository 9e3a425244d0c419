#pragma once

#include "model/batchrow.h"
#include "model/stalerules.h"
#include "storage/sellerdatabase.h"

#include <QDateTime>
#include <QList>
#include <QString>

class LookupService;
struct LookupOutcome;

// The fields a batch's found buyers lack against the history of the kStaleHistoryDays days
// before the batch began (lookups from `began` on are the batch's own). Nothing without a
// database or enough of either.
QList<StaleField> staleFieldsOfBatch(const QList<LookupOutcome> &outcomes,
                                     const SellerDatabase *database, const QDateTime &began);
// The same over the last kStaleSlidingWindow lookups in the history, against the
// kStaleHistoryDays days before the first of them: the check after single lookups. The month
// before is counted again only once the window has moved on by an hour (a busy seller's month
// is tens of thousands of lookups), so a check costs about a read of the last lookups.
class RecentLookupsCheck
{
public:
    QList<StaleField> check(const SellerDatabase *database);

private:
    FieldFill m_before;
    QDateTime m_until; // the end of the month m_before counts (invalid: not counted yet)
};

// Which query configuration the lookups use, for the stale-rules warning: the local file, the
// kept copy standing in for the download, or the address it is downloaded from.
QString configurationName(const LookupService &service);

// The orders to review: every order of a 高 buyer (one entry without an order number for a buyer
// from a file without them), from `source`.
QList<ReviewEntry> reviewEntriesOf(const QList<BatchRow> &rows, const QString &source);

// "高风险：ID（原因；原因）" for the command line and a notification.
QString highRiskText(const QString &buyerId, const QStringList &reasons);
// The same for a notification: the id and each reason cut to a glance.
QString highRiskNotice(const QString &buyerId, const QStringList &reasons);
