#include "storage/blacklistcsv.h"

#include "files/csvwriter.h"
#include "files/inputfile.h"
#include "web/codepage936.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <QHash>

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// The text of a CSV file: UTF-8 when it decodes as such, else code page 936.
QString decodeCsv(QByteArray bytes)
{
    if (bytes.startsWith(kUtf8Bom))
        return QString::fromUtf8(bytes.mid(kUtf8Bom.size()));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decode936(bytes);
}

struct CsvRecord
{
    QStringList fields;
    int line = 0;
};

// RFC 4180 records, fields trimmed of surrounding spaces; a quoted field keeps what is inside.
QList<CsvRecord> splitCsv(const QString &text)
{
    QList<CsvRecord> records;
    CsvRecord record;
    QString field;
    bool quoted = false;    // inside quotes
    bool wasQuoted = false; // the current field began with a quote
    int line = 1;
    record.line = 1;
    const auto endField = [&] {
        record.fields.append(wasQuoted ? field : field.trimmed());
        field.clear();
        wasQuoted = false;
    };
    const auto endRecord = [&] {
        endField();
        records.append(record);
        record = CsvRecord();
        record.line = line;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < n && text.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n' || (c == u'\r' && !(i + 1 < n && text.at(i + 1) == u'\n')))
                    ++line;
                field += c;
            }
        } else if (c == u'"' && field.trimmed().isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
            field.clear();
        } else if (c == u',') {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            ++line;
            endRecord();
        } else if (!wasQuoted) {
            field += c;
        } // text after a closing quote up to the comma is dropped
    }
    if (!field.isEmpty() || wasQuoted || !record.fields.isEmpty())
        endRecord();
    return records;
}

bool isBlankRecord(const CsvRecord &r)
{
    for (const QString &f : r.fields) {
        if (!f.trimmed().isEmpty())
            return false;
    }
    return true;
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
        out.error = QStringLiteral("the file is UTF-16 text; save it as CSV (UTF-8 or GBK)");
        return out;
    }
    const QList<CsvRecord> records = splitCsv(decodeCsv(bytes));
    qsizetype first = 0;
    while (first < records.size() && isBlankRecord(records.at(first)))
        ++first;
    if (first == records.size()) {
        out.error = QStringLiteral("the file is empty; a blacklist starts with the line "
                                   "id,reason,date");
        return out;
    }
    int idColumn = -1;
    int reasonColumn = -1;
    int dateColumn = -1;
    const QStringList &header = records.at(first).fields;
    for (int i = 0; i < header.size(); ++i) {
        const QString name = header.at(i).trimmed().toLower();
        if (name == QLatin1String("id") && idColumn < 0)
            idColumn = i;
        else if (name == QLatin1String("reason") && reasonColumn < 0)
            reasonColumn = i;
        else if (name == QLatin1String("date") && dateColumn < 0)
            dateColumn = i;
    }
    if (idColumn < 0) {
        out.error = QStringLiteral("line %1 is no header: a blacklist starts with the line "
                                   "id,reason,date")
                        .arg(records.at(first).line);
        return out;
    }

    QHash<QString, qsizetype> seen; // id -> its place in entries
    const auto refuse = [&](int line, const QString &why) {
        out.problems.append(QStringLiteral("line %1: %2").arg(line).arg(why));
        ++out.refused;
    };
    for (qsizetype r = first + 1; r < records.size(); ++r) {
        const CsvRecord &record = records.at(r);
        if (isBlankRecord(record))
            continue;
        const auto column = [&](int i) { return i < 0 ? QString() : record.fields.value(i); };
        BlacklistEntry entry;
        entry.line = record.line;
        entry.buyerId = csvCellText(column(idColumn).trimmed());
        entry.reason = csvCellText(column(reasonColumn).trimmed());
        const QString dateText = column(dateColumn).trimmed();
        if (entry.buyerId.isEmpty()) {
            refuse(record.line, QStringLiteral("no id"));
            continue;
        }
        if (entry.buyerId.size() > kMaxBlacklistIdLength) {
            refuse(
                record.line,
                QStringLiteral("the id is longer than %1 characters").arg(kMaxBlacklistIdLength));
            continue;
        }
        if (entry.buyerId.contains(u'\n') || entry.buyerId.contains(u'\r')) {
            refuse(record.line, QStringLiteral("the id holds a line break"));
            continue;
        }
        if (!dateText.isEmpty()) {
            bool ok = false;
            entry.date = parseDate(dateText, &ok);
            if (!ok) {
                refuse(record.line,
                       QStringLiteral("%1 is not a date like 2026-11-02").arg(dateText));
                continue;
            }
        }
        const auto it = seen.constFind(entry.buyerId);
        if (it == seen.constEnd()) {
            seen.insert(entry.buyerId, out.entries.size());
            out.entries.append(entry);
        } else {
            out.problems.append(QStringLiteral("line %1: %2 again (first on line %3); this line "
                                               "is taken")
                                    .arg(record.line)
                                    .arg(entry.buyerId)
                                    .arg(out.entries.at(*it).line));
            out.entries[*it] = entry;
        }
    }
    return out;
}

BlacklistFile readBlacklistCsv(const QString &path)
{
    BlacklistFile out;
    QFile file;
    QString reason;
    if (!openRegularFile(path, &file, &reason, &out.notRegular)) {
        out.error = QStringLiteral("cannot read %1: %2").arg(path, reason);
        return out;
    }
    if (file.size() > kMaxBlacklistFileBytes) {
        out.error = QStringLiteral("%1 is larger than %2 MiB: no blacklist")
                        .arg(path)
                        .arg(kMaxBlacklistFileBytes / (1024 * 1024));
        return out;
    }
    const QByteArray bytes = file.read(kMaxBlacklistFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        out.error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
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
