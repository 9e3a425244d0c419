#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

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
// - At most maxIds ids are kept (kMaxBatchIds for a batch). The rest of the file is only counted
//   by the same rules, nothing of it kept and nothing in it an error, so the user can be told how
//   many ids are left out.
// - The ids are decoded in the encoding the user chose (UTF-8 or code page 936); without a
//   choice, as UTF-8 when the bytes they were read from are valid UTF-8, otherwise as code page
//   936. A leading UTF-8 byte order mark is dropped unless the choice is code page 936. Commas,
//   quotes and line ends are ASCII and never occur inside a multi-byte character of either
//   encoding, so fields are split on the bytes before decoding.
// - UTF-16 text (with a byte order mark or without) and files holding NUL bytes are refused
//   with a message: neither encoding has a NUL byte in its text.

// The batch reads at most this many ids.
constexpr int kMaxBatchIds = 101;

// An id longer than this many bytes means the file is no list of ids; reading it stops with an
// error instead of holding an arbitrarily large field in memory.
constexpr int kMaxIdFieldBytes = 4096;

// The id file's encoding: guessed, or the user's choice.
enum class IdFileEncoding { Auto, Utf8, Gbk };

// "auto", "utf-8" (or "utf8"), "gbk" (or "cp936"), in any case; nullopt for anything else.
std::optional<IdFileEncoding> parseIdFileEncoding(const QString &name);

struct IdFileResult
{
    QStringList ids;
    qint64 leftOut = 0; // ids past maxIds: counted, not kept
    QString error;      // empty when the file was read
    bool ok() const { return error.isEmpty(); }
};

// Reads the ids of the file at path (the name exactly as the dialog returned it, untrimmed).
// An unreadable file gives an error message naming it and no ids.
IdFileResult readIdFile(const QString &path, int maxIds = kMaxBatchIds,
                        IdFileEncoding encoding = IdFileEncoding::Auto);

// The same rules applied to bytes already in memory; error is set only for an over-long field,
// UTF-16 text or NUL bytes.
IdFileResult parseIdFile(const QByteArray &bytes, int maxIds = kMaxBatchIds,
                         IdFileEncoding encoding = IdFileEncoding::Auto);

// Whether the dialog's file name is taken as an id file: the name with leading and trailing
// spaces removed contains "txt" (case-sensitive, anywhere in the path). Other names end the
// batch without a message.
bool isIdFileName(const QString &fileName);

// The progress line while id, one of total, is queried; number as given (the command line
// gives the buyers finished so far, the window the place of the buyer being started, from 1).
QString batchProgressText(int total, int number, const QString &id);

// The progress line once every id has been queried.
QString batchDoneText();
