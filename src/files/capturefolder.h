#pragma once

#include "files/inputfile.h"
#include "model/buyercreditrecord.h"
#include "web/pageresult.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// A capture: what one lookup read, kept in a folder so that a query configuration can be tried
// against it later, offline. The folder holds capture.json (the index, UTF-8 JSON) and one file
// per page body, exactly as it arrived (the marketplace's pages in code page 936; the embedded
// browser's text in UTF-8), plus the query configuration and the area table the lookup used
// (UTF-8). Nothing of the seller's own (settings, database) goes in.
//
// capture.json:
//   format         "brelvon-capture 1"
//   buyerId, time (UTC, ISO 8601), program, lookup (what the lookup came to: found …)
//   record         the record's twelve fields, under their own names
//   configuration  the file of the configuration used (an indexed list), areaTable likewise
//   pages          in the order they were requested: page, address, status, outcome (as under
//                  --verbose: ok, empty, timeout …), error, bytes, ms, browser (true for the
//                  embedded browser's text of the detail page), file (empty when no body was
//                  read: a page over the fetch's bounds, a time-out, a refused address);
//                  contentType (the answer's header, so the body decodes as it did; optional),
//                  encoding and undecodable (what the lookup read it as; for people)
struct CapturedPage
{
    PageResult result;      // what the fetch did (text left empty)
    QString file;           // the body's file in the folder, "" when nothing was read
    QByteArray contentType; // the answer's Content-Type, "" when it sent none
};

struct Capture
{
    QString buyerId;
    QDateTime time;
    QString program;
    QString lookup;
    BuyerCreditRecord record;
    QString configurationFile;
    QString areaTableFile;
    QList<CapturedPage> pages;

    // The first page of that name (of the fetch, or of the embedded browser), or null.
    const CapturedPage *page(const QString &name, bool browser = false) const;
};

// The index's name in a capture folder.
inline const QString kCaptureIndexName = QStringLiteral("capture.json");

// capture.json's text for the capture.
QByteArray captureIndexJson(const Capture &capture);

// Reads capture.json's text. False with the reason (naming the key or the page) when it is no
// capture index: not JSON, another format, a missing or mistyped key, a file name that is not a
// plain name inside the folder.
bool readCaptureIndex(const QByteArray &json, Capture *capture, QString *error);

// Writes a capture into `folder` (made when missing; an existing capture.json is never
// replaced): every file of `files` (name -> bytes), then the index last, so a folder with an
// index is whole. Every file is made new: one already at its name, a link included, is left as it
// is and the writing stops there. False with the reason.
bool writeCaptureFolder(const QString &folder, const Capture &capture,
                        const QHash<QString, QByteArray> &files, QString *error);

// The most pages an index may list: what one lookup reads (the configuration and the area table
// from two hosts each, the buyer's seven pages and the browser's text of the detail page).
constexpr int kMaxCapturePages = 12;

// Opens a capture folder and reads its index; its files are then read inside the opened folder
// (readCaptureFile), never through a link. False with the reason ("no capture.json in …").
bool readCaptureFolder(const QString &folder, InputFolder *opened, Capture *capture,
                       QString *error);

// One file of a capture folder, at most 16 MiB. When expectedBytes is not negative the file must
// hold exactly that many bytes (a truncated page is refused). False with the reason.
bool readCaptureFile(const InputFolder &folder, const QString &file, qint64 expectedBytes,
                     QByteArray *bytes, QString *error);
