#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Every CSV file we write (the blacklist, the lookup history) is built from these, so each is
// safe to open in a spreadsheet program.
//
// A cell a spreadsheet would run as a formula or command (one beginning with =, +, -, @, a tab
// or a carriage return, after any apostrophes) gets a leading apostrophe, which spreadsheets
// take as "text" and hide. csvCellText undoes that on reading, so what we write reads back
// unchanged.

// The text of a cell as written: with the apostrophe where needed.
QString csvSafeText(const QString &text);
// A cell's text as read back: the one apostrophe csvSafeText adds removed again (only where it
// was needed; any other apostrophe is the user's own).
QString csvCellText(const QString &text);

// A field in UTF-8, made safe, quoted where it must be.
QByteArray csvField(const QString &text);
// A record of fields joined by commas and ended by CRLF.
QByteArray csvRecord(const QStringList &fields);
