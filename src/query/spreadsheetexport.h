#pragma once

#include "buyercreditrecord.h"

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

// One row of the table: the id as read from the id file and what its query delivered.
struct BatchRow
{
    QString id;
    BuyerCreditRecord record;
    QString mark; // not empty: the row is marked in red, with this text as the id cell's note
};

// The twelve column headers, in column order.
const QStringList &batchTableHeaders();

// The formula of column 12 for an address, "=HYPERLINK(" included.
QString hyperlinkFormula(const QString &address);

// Writes the table to path. An existing file there is replaced only once the new one is complete,
// so a failed export loses nothing. False with a message in *error on failure.
bool writeBatchSpreadsheet(const QString &path, const QList<BatchRow> &rows, QString *error);

// Writes the table to a new file with a unique name in the user's temporary folder (never an
// existing file) and returns its path; "" with a message in *error on failure.
QString writeBatchSpreadsheetToTemp(const QList<BatchRow> &rows, QString *error);
