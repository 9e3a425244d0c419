#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// The first worksheet of an xlsx workbook, row by row, as text: shared and inline strings
// resolved (their _xHHHH_ escapes decoded), numbers and other values as the <v> text holds them.
// Cells are placed by their reference, so a row's list has empty texts where cells are missing.
//
// The workbook comes from outside, so everything is bounded: the number of archive entries, the
// unpacked size of each part read (the size the archive claims is not trusted), the shared
// strings, the columns of a row (cells further right are ignored) and the rows. XML with a document
// type declaration is refused, so no entity can be declared, let alone expanded.
struct XlsxLimits
{
    int maxEntries = 4096;
    qint64 maxPartBytes = 64LL * 1024 * 1024; // one part unpacked
    qint64 maxSharedStrings = 2000000;        // each costs memory however short
    int maxColumns = 1024;
    qint64 maxRows = 1000000;
};

// Told each row with at least one cell, in order; returns false to stop reading.
using XlsxRowHandler = std::function<bool(const QStringList &cells)>;

// Reads the workbook held in bytes. Returns "" when it was read (or the handler stopped it), else
// what is wrong with it.
QString readXlsxRows(const QByteArray &bytes, const XlsxRowHandler &row,
                     const XlsxLimits &limits = {});

// Whether bytes begin like a zip archive (an xlsx workbook is one).
bool looksLikeZip(const QByteArray &bytes);
