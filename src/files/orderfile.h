#pragma once

#include "files/idfile.h"
#include "model/ordernumber.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The order list a marketplace's seller centre exports, read as a batch's input: a table with a
// header row and one order per row, as CSV (code page 936, or UTF-8 with or without a byte order
// mark) or as an xlsx workbook (its first sheet).
//
// - The header row is the first row that is not blank. The buyer column is the one named by the
//   user, else the first of defaultBuyerColumns() the header has (names compared without
//   surrounding spaces, ASCII letters in any case). The order numbers are in "订单编号".
// - Cells lose the decorations exports put on them to keep long numbers as text: ="…", a leading
//   tab or apostrophe, surrounding spaces (stripCellDecoration).
// - CSV: fields separated by commas, quoted fields may hold commas, line breaks and doubled
//   quotes; ="…" outside quotes is read as one cell even with commas inside.
// - A row without a buyer is skipped (and counted). Each buyer is kept once, in the order of
//   first appearance, with every order of theirs; past maxBuyers further buyers are only
//   counted.
// - Bounded: the file (64 MiB), a CSV cell (64 KiB), the columns of a row (1024), and the xlsx
//   limits of files/xlsxreader.h. Of a buyer's order numbers the first kMaxOrderNumbersKept are
//   kept, each as keptOrderNumber (model/ordernumber.h) bounds it; the rest are only counted (a
//   shared string of a workbook may be long and named by every row).

constexpr qint64 kMaxOrderFileBytes = 64LL * 1024 * 1024;
constexpr int kMaxOrderCellBytes = 64 * 1024;

constexpr int kMaxOrderNumbersKept = 50;
constexpr int kMaxOrderNumberChars = kShownOrderNumberChars; // in the table's order column

// A batch reads at most this many buyers, whatever the settings say.
constexpr int kMaxBatchIdsLimit = 2000;

// "买家会员名", "买家昵称", "buyer", "buyerId": the buyer column when none is named.
const QStringList &defaultBuyerColumns();
// "订单编号".
QString orderNumberColumn();

struct OrderFileOptions
{
    QString buyerColumn; // empty: the first of defaultBuyerColumns() found
    int maxBuyers = kMaxBatchIds;
    IdFileEncoding encoding = IdFileEncoding::Auto; // CSV only
};

struct OrderBuyer
{
    QString id;
    int orders = 0;           // rows of this buyer
    QStringList orderNumbers; // their first non-empty order numbers, in file order, cut
    int orderNumberCount = 0; // all their non-empty order numbers (0: as many as orderNumbers)
};

struct OrderFileResult
{
    QList<OrderBuyer> buyers; // in the order of first appearance
    qint64 leftOut = 0;       // further buyers past maxBuyers: counted, not kept
    qint64 orders = 0;        // rows with a buyer, those of left-out buyers included
    qint64 rowsWithoutBuyer = 0;
    QStringList columns;        // the header row as found
    QString buyerColumn;        // the header of the column read
    QString error;              // empty when the file was read
    bool noBuyerColumn = false; // the error is that the header lacks the buyer column
    bool ok() const { return error.isEmpty(); }
    QStringList ids() const;
};

// Whether a chosen file is taken as an order export: its name ends in .csv or .xlsx, in any case.
bool isOrderFileName(const QString &fileName);

// Reads the order file at path; an xlsx workbook is told by its bytes, whatever its name.
OrderFileResult readOrderFile(const QString &path, const OrderFileOptions &options = {});
// The same from a file already opened (by path, for messages): what is read is that file, whatever
// its name leads to meanwhile.
OrderFileResult readOrderFile(QFile *file, const QString &path, const OrderFileOptions &options);
// The same for bytes already in memory.
OrderFileResult parseOrderFile(const QByteArray &bytes, const OrderFileOptions &options = {});

// The cell without ="…", a leading tab or apostrophe, and surrounding white space.
QString stripCellDecoration(const QString &cell);

// The message about left-out buyers, or "" when none were left out: how many the file has and
// how many will not be looked up.
QString leftOutText(qint64 kept, qint64 leftOut);
