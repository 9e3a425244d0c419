#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The first worksheet of an xlsx file as a spreadsheet program would read it: cells by reference
// ("A1"), shared strings resolved and their _xHHHH_ escapes decoded, and hyperlink targets.
struct XlsxCell
{
    QString type;    // the t attribute: "s", "inlineStr", "str", "n", ... ("" when absent)
    QString value;   // the shown text: the shared or inline string, else the <v> text
    QString formula; // the <f> text, without "="
    bool hasFormula = false;
    QString style; // the s attribute: the index of the cell's format ("" when absent)
};

struct XlsxSheet
{
    QString error; // empty when the file was read
    QMap<QString, XlsxCell> cells;
    QMap<QString, QString> hyperlinks; // cell reference -> external target
    int maxRow = 0;
};

// sheet: the worksheet's part name under xl/worksheets/.
XlsxSheet readXlsxSheet(const QString &path, const QString &sheet = QStringLiteral("sheet1.xml"));

// The XML parts of an xlsx file (.xml, .rels, .vml) that a strict XML parser refuses, each with
// the parser's reason; empty when every part reads.
QStringList xlsxPartsNotWellFormed(const QString &path);
