#include "files/blacklistcsv.h"

#include "model/uilanguage.h"

#include "files/csvwriter.h"
#include "files/inputfile.h"
#include "web/codepage936.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <QHash>

#include <utility>

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
// Problems named one by one; a file with more says how many more there were.
constexpr int kMaxProblems = 1000;

enum class Encoding { Utf8, Gbk };

// UTF-8 when the bytes decode as such (checked a piece at a time, so no copy of the whole text
// is made), else code page 936.
Encoding guessEncoding(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    constexpr qsizetype kPiece = 64 * 1024;
    for (qsizetype at = 0; at < bytes.size(); at += kPiece) {
        const QString piece = utf8.decode(bytes.sliced(at, qMin(kPiece, bytes.size() - at)));
        if (utf8.hasError())
            return Encoding::Gbk;
    }
    return Encoding::Utf8;
}

QString decodeBytes(QByteArrayView bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8) {
        // A field is decoded on its own: a byte order mark at its start is text, not a mark (the
        // file's own mark has been taken off already).
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return utf8.decode(bytes);
    }
    return decode936(QByteArray::fromRawData(bytes.data(), bytes.size()));
}

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

// One field as it lies in the file: its bytes (inside the quotes for a quoted field).
struct RawField
{
    QByteArrayView bytes;
    bool doubledQuotes = false; // "" inside quotes, standing for one quote
};

// The comma, quote and line-end bytes are ASCII in UTF-8 and GBK alike, and no byte of a
// multi-byte character is one of them, so the fields are found in the bytes, and only the ones
// wanted are decoded: however many fields a line has, none is kept that is not needed.
class CsvScanner
{
public:
    // field(column, raw) for each field, then record(line where the record starts).
    template <typename Field, typename Record>
    static void scan(QByteArrayView text, Encoding encoding, Field field, Record record)
    {
        const qsizetype n = text.size();
        int line = 1;
        int recordLine = 1;
        int column = 0;
        bool pending = false;   // a record has begun
        bool quoted = false;    // inside quotes
        bool wasQuoted = false; // the current field began with a quote
        bool blankSoFar = true; // only ASCII spaces in the unquoted field so far
        bool maybeBlank = true; // only ASCII spaces and other characters, which may be spaces
        qsizetype start = 0;    // where the field's bytes begin
        qsizetype end = 0;      // where they end (quoted: at the closing quote)
        bool doubled = false;
        const auto endField = [&](qsizetype at) {
            if (!wasQuoted)
                end = at;
            field(column, RawField{text.sliced(start, end - start), doubled});
            ++column;
            start = end = at + 1;
            wasQuoted = doubled = false;
            blankSoFar = maybeBlank = true;
            pending = true;
        };
        // Whether the unquoted field up to at is spaces only, the ideographic space of Chinese
        // text included: decoded once at most, as a quote in it either opens it or it is not.
        const auto spacesOnly = [&](qsizetype at) {
            if (!maybeBlank)
                return false;
            maybeBlank = decodeBytes(text.sliced(start, at - start), encoding).trimmed().isEmpty();
            return maybeBlank;
        };
        const auto endRecord = [&](qsizetype at) {
            endField(at);
            record(recordLine);
            column = 0;
            pending = false;
            recordLine = line;
        };
        for (qsizetype i = 0; i < n; ++i) {
            const char c = text[i];
            if (quoted) {
                if (c == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        doubled = true;
                        ++i;
                    } else {
                        quoted = false;
                        end = i;
                    }
                } else if (c == '\n' || (c == '\r' && !(i + 1 < n && text[i + 1] == '\n'))) {
                    ++line;
                }
            } else if (c == '"' && !wasQuoted && (blankSoFar || spacesOnly(i))) {
                quoted = wasQuoted = true;
                pending = true;
                start = i + 1;
            } else if (c == ',') {
                endField(i);
            } else if (c == '\r' || c == '\n') {
                const qsizetype at = i;
                if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
                    ++i;
                ++line;
                endRecord(at);
                start = end = i + 1;
            } else {
                pending = true;
                if (!isAsciiSpace(c)) {
                    blankSoFar = false;
                    if (uchar(c) < 0x80)
                        maybeBlank = false;
                }
            } // text after a closing quote up to the comma is dropped
        }
        if (quoted)
            end = n;
        if (pending)
            endRecord(n);
    }
};

// The text of a field, quotes undone and surrounding spaces dropped.
QString fieldText(const RawField &raw, Encoding encoding)
{
    QString text = decodeBytes(raw.bytes, encoding);
    if (raw.doubledQuotes) {
        // Inside quotes every quote is doubled: keep one of each pair, in one pass.
        QChar *chars = text.data();
        const qsizetype n = text.size();
        qsizetype kept = 0;
        for (qsizetype i = 0; i < n; ++i) {
            chars[kept++] = chars[i];
            if (chars[i] == u'"' && i + 1 < n && chars[i + 1] == u'"')
                ++i;
        }
        text.truncate(kept);
    }
    return std::move(text).trimmed();
}

enum class ColumnName { None, Id, Reason, Date };

// Which column a header field names. A field of ASCII alone is compared as it lies, so a header
// of millions of fields costs no memory.
ColumnName columnName(const RawField &raw, Encoding encoding)
{
    QByteArrayView name = raw.bytes;
    if (raw.doubledQuotes)
        return ColumnName::None;
    for (const char c : name) {
        if (uchar(c) >= 0x80) {
            // Spaces beyond ASCII around it: the decoded text decides (a name with more than
            // a few of them is none).
            if (name.size() > 64)
                return ColumnName::None;
            const QString text = fieldText(raw, encoding).toLower();
            return text == QLatin1String("id")       ? ColumnName::Id
                   : text == QLatin1String("reason") ? ColumnName::Reason
                   : text == QLatin1String("date")   ? ColumnName::Date
                                                     : ColumnName::None;
        }
    }
    while (!name.isEmpty() && isAsciiSpace(name.front()))
        name = name.sliced(1);
    while (!name.isEmpty() && isAsciiSpace(name.back()))
        name.chop(1);
    const auto is = [&](const char *word) {
        return qstrnicmp(name.data(), name.size(), word) == 0;
    };
    return is("id")       ? ColumnName::Id
           : is("reason") ? ColumnName::Reason
           : is("date")   ? ColumnName::Date
                          : ColumnName::None;
}

bool isBlankField(const RawField &raw, Encoding encoding)
{
    bool ascii = true;
    for (const char c : raw.bytes) {
        if (uchar(c) >= 0x80)
            ascii = false;
        else if (!isAsciiSpace(c))
            return false;
    }
    // Spaces beyond ASCII (the ideographic space of Chinese text) are spaces too.
    return ascii || fieldText(raw, encoding).isEmpty();
}

// 2026-11-02, 2026/11/2, 2026年11月2日, each optionally followed by a time.
QDate parseDate(const QString &text, bool *ok)
{
    static const QRegularExpression re(QStringLiteral(
        "^(\\d{4})(?:-(\\d{1,2})-(\\d{1,2})|/(\\d{1,2})/(\\d{1,2})|年(\\d{1,2})月(\\d{1,2})日)"
        "(?:[ T]\\d{1,2}:\\d{2}(?::\\d{2})?.*)?$"));
    const QRegularExpressionMatch m = re.match(text);
    *ok = false;
    if (!m.hasMatch())
        return {};
    int month = 0;
    int day = 0;
    for (int group = 2; group <= 6; group += 2) {
        if (!m.captured(group).isEmpty()) {
            month = m.captured(group).toInt();
            day = m.captured(group + 1).toInt();
        }
    }
    const QDate date(m.captured(1).toInt(), month, day);
    *ok = date.isValid();
    return date;
}

} // namespace

BlacklistFile parseBlacklistCsv(const QByteArray &bytes)
{
    BlacklistFile out;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        out.error = inUserLanguage(
            QStringLiteral("文件是 UTF-16 编码的文本，请另存为 CSV（UTF-8 或 GBK 编码）"),
            QStringLiteral("the file is UTF-16 text; save it as CSV (UTF-8 or GBK)"));
        return out;
    }
    QByteArrayView text(bytes);
    Encoding encoding = Encoding::Utf8;
    if (bytes.startsWith(kUtf8Bom))
        text = text.sliced(kUtf8Bom.size());
    else
        encoding = guessEncoding(text);

    // The header: the first line that is not blank.
    bool haveHeader = false;
    int headerLine = 0;
    int idColumn = -1;
    int reasonColumn = -1;
    int dateColumn = -1;
    // The record being read: whether it is blank so far, and the fields that matter.
    bool blank = true;
    int seenId = -1; // candidate header columns while no header was read
    int seenReason = -1;
    int seenDate = -1;
    QString idText;
    QString reasonText;
    QString dateText;

    QHash<QString, qsizetype> seen; // id -> its place in entries
    int untold = 0;                 // problems beyond kMaxProblems
    const auto tell = [&](const QString &problem) {
        if (out.problems.size() < kMaxProblems)
            out.problems.append(problem);
        else
            ++untold;
    };
    const auto refuse = [&](int line, const QString &why) {
        tell(inUserLanguage(QStringLiteral("第 %1 行：%2"), QStringLiteral("line %1: %2"))
                 .arg(line)
                 .arg(why));
        ++out.refused;
    };
    const auto onField = [&](int column, const RawField &raw) {
        if (blank && !isBlankField(raw, encoding))
            blank = false;
        if (!haveHeader) {
            switch (columnName(raw, encoding)) {
            case ColumnName::Id:
                if (seenId < 0)
                    seenId = column;
                break;
            case ColumnName::Reason:
                if (seenReason < 0)
                    seenReason = column;
                break;
            case ColumnName::Date:
                if (seenDate < 0)
                    seenDate = column;
                break;
            case ColumnName::None:
                break;
            }
            return;
        }
        if (column == idColumn)
            idText = fieldText(raw, encoding);
        else if (column == reasonColumn)
            reasonText = fieldText(raw, encoding);
        else if (column == dateColumn)
            dateText = fieldText(raw, encoding);
    };
    const auto onRecord = [&](int line) {
        const bool wasBlank = blank;
        blank = true;
        BlacklistEntry entry;
        entry.line = line;
        entry.buyerId = csvCellText(std::exchange(idText, QString()));
        entry.reason = csvCellText(std::exchange(reasonText, QString()));
        const QString date = std::exchange(dateText, QString());
        if (!haveHeader) {
            if (!wasBlank) {
                haveHeader = true;
                headerLine = line;
                idColumn = seenId;
                reasonColumn = seenReason;
                dateColumn = seenDate;
            }
            seenId = seenReason = seenDate = -1;
            return;
        }
        if (wasBlank || !out.error.isEmpty())
            return;
        if (entry.buyerId.isEmpty()) {
            refuse(line, inUserLanguage(QStringLiteral("没有买家ID"), QStringLiteral("no id")));
            return;
        }
        if (entry.buyerId.size() > kMaxBlacklistIdLength) {
            refuse(line, inUserLanguage(QStringLiteral("买家ID超过 %1 个字符"),
                                        QStringLiteral("the id is longer than %1 characters"))
                             .arg(kMaxBlacklistIdLength));
            return;
        }
        if (entry.buyerId.contains(u'\n') || entry.buyerId.contains(u'\r')) {
            refuse(line, inUserLanguage(QStringLiteral("买家ID中有换行"),
                                        QStringLiteral("the id holds a line break")));
            return;
        }
        if (!date.isEmpty()) {
            bool ok = false;
            entry.date = parseDate(date, &ok);
            if (!ok) {
                refuse(line, inUserLanguage(QStringLiteral("%1 不是 2026-11-02 这样的日期"),
                                            QStringLiteral("%1 is not a date like 2026-11-02"))
                                 .arg(date));
                return;
            }
        }
        const auto it = seen.constFind(entry.buyerId);
        if (it == seen.constEnd()) {
            seen.insert(entry.buyerId, out.entries.size());
            out.entries.append(entry);
        } else {
            tell(inUserLanguage(
                     QStringLiteral("第 %1 行：%2 重复出现（第一次在第 %3 行）；以这一行为准"),
                     QStringLiteral("line %1: %2 again (first on line %3); this line is taken"))
                     .arg(line)
                     .arg(entry.buyerId)
                     .arg(out.entries.at(*it).line));
            out.entries[*it] = entry;
        }
    };
    CsvScanner::scan(text, encoding, onField, onRecord);

    if (!haveHeader) {
        out.error = inUserLanguage(
            QStringLiteral("文件是空的；黑名单以 id,reason,date 这一行开头"),
            QStringLiteral("the file is empty; a blacklist starts with the line id,reason,date"));
        return out;
    }
    if (idColumn < 0) {
        out = BlacklistFile();
        out.error =
            inUserLanguage(
                QStringLiteral("第 %1 行不是表头：黑名单以 id,reason,date 这一行开头"),
                QStringLiteral(
                    "line %1 is no header: a blacklist starts with the line id,reason,date"))
                .arg(headerLine);
        return out;
    }
    if (untold > 0)
        out.problems.append(
            inUserLanguage(QStringLiteral("还有 %1 条"), QStringLiteral("and %1 more"))
                .arg(untold));
    return out;
}

BlacklistFile readBlacklistCsv(const QString &path)
{
    BlacklistFile out;
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason, &out.notRegular)) {
        out.error =
            inUserLanguage(QStringLiteral("无法读取 %1：%2"), QStringLiteral("cannot read %1: %2"))
                .arg(QDir::toNativeSeparators(path), reason);
        return out;
    }
    if (file.size() > kMaxBlacklistFileBytes) {
        out.error = inUserLanguage(QStringLiteral("%1 大于 %2 MiB：不是黑名单"),
                                   QStringLiteral("%1 is larger than %2 MiB: no blacklist"))
                        .arg(QDir::toNativeSeparators(path))
                        .arg(kMaxBlacklistFileBytes / (1024 * 1024));
        return out;
    }
    const QByteArray bytes = file.read(kMaxBlacklistFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        out.error =
            inUserLanguage(QStringLiteral("无法读取 %1：%2"), QStringLiteral("cannot read %1: %2"))
                .arg(QDir::toNativeSeparators(path), file.errorString());
        return out;
    }
    out = parseBlacklistCsv(bytes);
    if (!out.ok())
        out.error = path + QLatin1String(": ") + out.error;
    return out;
}

QByteArray blacklistCsv(const QList<BlacklistEntry> &entries)
{
    QByteArray out = kUtf8Bom + csvRecord({QStringLiteral("id"), QStringLiteral("reason"),
                                           QStringLiteral("date")});
    for (const BlacklistEntry &e : entries)
        out += csvRecord(
            {e.buyerId, e.reason, e.date.isValid() ? e.date.toString(Qt::ISODate) : QString()});
    return out;
}
