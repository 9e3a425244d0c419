#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The batch's id file: a text file of buyer ids, several to a line separated by commas or one to
// a line.
//
// How a file is read:
// - A field ends at a comma or at a line end (CR LF, LF or CR alone).
// - A field whose first character other than spaces is a double quote is quoted: the spaces
//   before the quote and the quotes themselves are dropped, commas inside are part of the id,
//   and a doubled quote inside stands for one quote. Whatever follows the closing quote up to the
//   field's end is kept as it stands. A quoted field still ends at a line end, so a stray quote
//   costs one line, not the rest of the file.
// - A blank field (empty, or spaces only: an empty line, a trailing comma) is no id: it is
//   skipped and does not count.
// - Any other field is the id exactly as read, surrounding spaces included; the query trims it.
// - Reading stops after kMaxBatchIds ids; the rest of the file is never read.
// - The ids are decoded as UTF-8 when the bytes they were read from are valid UTF-8 (a leading
//   UTF-8 byte order mark is dropped), otherwise as code page 936. Commas, quotes and line ends
//   are ASCII and never occur inside a multi-byte character of either encoding, so fields are
//   split on the bytes before decoding.

// The batch reads at most this many ids.
constexpr int kMaxBatchIds = 101;

// An id longer than this many bytes means the file is no list of ids; reading it stops with an
// error instead of holding an arbitrarily large field in memory.
constexpr int kMaxIdFieldBytes = 4096;

struct IdFileResult
{
    QStringList ids;
    QString error; // empty when the file was read
    bool ok() const { return error.isEmpty(); }
};

// Reads the ids of the file at path (the name exactly as the dialog returned it, untrimmed).
// An unreadable file gives an error message naming it and no ids.
IdFileResult readIdFile(const QString &path, int maxIds = kMaxBatchIds);

// The same rules applied to bytes already in memory; error is set only for an over-long field or
// a UTF-16 text.
IdFileResult parseIdFile(const QByteArray &bytes, int maxIds = kMaxBatchIds);

// Whether the dialog's file name is taken as an id file: the name with leading and trailing
// spaces removed contains "txt" (case-sensitive, anywhere in the path). Other names end the
// batch without a message.
bool isIdFileName(const QString &fileName);

// The progress line while the id at position index (counted from 0) of total is queried.
QString batchProgressText(int total, int index, const QString &id);

// The progress line once every id has been queried.
QString batchDoneText();
