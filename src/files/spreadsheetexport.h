#pragma once

#include "files/outputguard.h"
#include "model/batchrow.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The batch's table as an xlsx workbook: one sheet, a header row, then one row per id from row 2.
//
// Columns 1 to 11 are text cells whatever they hold, so an id or page value beginning with "="
// never becomes a formula and 00123 keeps its zeros. Column 12 is the formula
// =HYPERLINK("address","address") with every quote of the address doubled, stored with the
// address as its cached value so the cell shows it even where the formula is not recalculated.
// An address longer than a formula's text literal may be (255 characters) becomes a hyperlink
// cell when it is a web address the hyperlink table takes, else a text cell; so does an address
// holding control characters.
//
// A cell holds at most 32,767 characters; longer texts are cut there.
//
// With extra columns, seven text columns follow column 12: credit score, credit level, risk, its
// reasons (joined by "；"), the outcomes of the buyer's pages, the seller's mark on the buyer and
// the seller's note. Without them the table is the twelve columns alone.
//
// The row of a buyer the seller blacklisted is marked red either way, with the reason as the id
// cell's note.
//
// For order files, two columns follow the others: the buyer's number of orders and the order
// numbers joined by "；". Marking by risk colours the row of a 高 buyer red and of a 未知 one
// grey. The summary sheet "汇总" counts the buyers per verdict (with a column chart of the counts
// beside them), says the warnings and lists the blacklisted buyers.

// Whether the table gets the extra columns, and what their verdict is measured against.
struct BatchTableOptions
{
    bool extraColumns = false;
    RiskSettings risk;
    QDate today;               // invalid: the day the table is written
    bool orderColumns = false; // 订单数 and 订单编号 last
    bool markRisk = false;     // 高 rows red, 未知 rows grey
    bool summarySheet = false; // a second sheet "汇总"
    // Warnings for the summary sheet, below the counts: page rules that went stale.
    QStringList warnings = {};
};

// The table's header row and a row's values as text (column 12: the address itself).
QStringList batchTableColumns(const BatchTableOptions &options);
QStringList batchTableValues(const BatchRow &row, const BatchTableOptions &options);

// The same table as CSV: UTF-8 with a byte order mark, the header row, one row per buyer, every
// cell made safe (files/csvwriter.h). Written under the rules of writeBatchSpreadsheet, but with
// nothing kept in the temporary folder on failure: false with a message in *error.
bool writeBatchCsv(const QString &path, const QList<BatchRow> &rows, QString *error,
                   const BatchTableOptions &options = {}, const QList<OwnFile> &ownFiles = {});

// The formula of column 12 for an address, "=HYPERLINK(" included.
QString hyperlinkFormula(const QString &address);

// Whether the table may be written to path (files/outputguard.h): refused are a folder, a
// device, pipe or socket, a link to a missing file, and the program's own files (ownFiles, see
// programFiles) under any name. False with a message in *error. Checked before a batch starts,
// so a long batch never ends in a table that cannot be saved.
bool checkBatchOutput(const QString &path, const QList<OwnFile> &ownFiles, QString *error);

// Writes the table to path, under the same rules. An existing file there is replaced only once
// the new one is complete, keeping its mode, so a failed export loses nothing. On failure the
// table is saved to a new file in the temporary folder instead (named in *savedTo), and *error
// says why and where.
bool writeBatchSpreadsheet(const QString &path, const QList<BatchRow> &rows, QString *error,
                           const BatchTableOptions &options = {},
                           const QList<OwnFile> &ownFiles = {}, QString *savedTo = nullptr);

// Writes the table to a new file with a unique name in the user's temporary folder (never an
// existing file) and returns its path; "" with a message in *error on failure.
QString writeBatchSpreadsheetToTemp(const QList<BatchRow> &rows, QString *error,
                                    const BatchTableOptions &options = {});

// Removes the tables writeBatchSpreadsheetToTemp left in folder that are older than a day and
// belong to this user (the window leaves one per batch, open in the spreadsheet program).
// Returns how many went.
int removeStaleBatchTables(const QString &folder, const QDateTime &now);
