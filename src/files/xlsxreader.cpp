#include "files/xlsxreader.h"

#include "model/uilanguage.h"

#include <QHash>
#include <QXmlStreamReader>

#include <zip.h>

#include <memory>
#include <optional>

namespace {

struct ZipCloser
{
    void operator()(zip_t *z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser
{
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};

QString damaged(const QString &what)
{
    return inUserLanguage(QStringLiteral("xlsx 文件已损坏或不是表格：%1"),
                          QStringLiteral("the xlsx file is damaged or no workbook: %1"))
        .arg(what);
}

// One part of the archive unpacked, or nullopt when it is missing; *error set when it is there
// but cannot be read or is larger than the bound.
std::optional<QByteArray> readPart(zip_t *zip, const QString &name, qint64 maxBytes, QString *error)
{
    const QByteArray rawName = name.toUtf8();
    const zip_int64_t index = zip_name_locate(zip, rawName.constData(), 0);
    if (index < 0)
        return std::nullopt;
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip, zip_uint64_t(index), 0));
    if (!file) {
        *error = damaged(name);
        return std::nullopt;
    }
    QByteArray data;
    char chunk[65536];
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            *error = damaged(name);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(chunk, qsizetype(n));
        if (data.size() > maxBytes) {
            *error = inUserLanguage(QStringLiteral("xlsx 文件中的 %1 超过 %2 MiB"),
                                    QStringLiteral("%1 in the xlsx file is larger than %2 MiB"))
                         .arg(name, QString::number(maxBytes / (1024 * 1024)));
            return std::nullopt;
        }
    }
    return data;
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "_xHHHH_" stands for the character HHHH (how a workbook writes control characters).
QString decodeEscapes(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i + 7 <= text.size() && text[i] == u'_' && text[i + 1] == u'x' && text[i + 6] == u'_' &&
            isHex(text[i + 2]) && isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5])) {
            out += QChar(char16_t(QStringView(text).mid(i + 2, 4).toUShort(nullptr, 16)));
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The XML of a part, refusing document type declarations.
class PartReader : public QXmlStreamReader
{
public:
    explicit PartReader(const QByteArray &bytes) : QXmlStreamReader(bytes) {}
    // The next token; false at the end, on an error or on a DTD.
    bool next()
    {
        if (atEnd())
            return false;
        if (readNext() == QXmlStreamReader::DTD) {
            raiseError(QStringLiteral("document type declaration"));
            return false;
        }
        return !hasError() && !atEnd();
    }
};

// The text of an <si> or <is> element: every <t> inside, rich-text runs included, phonetic
// runs (<rPh>) left out.
QString readStringItem(PartReader &xml)
{
    QString text;
    int depth = 1;
    int skipDepth = 0;
    while (depth > 0 && xml.next()) {
        if (xml.isStartElement()) {
            ++depth;
            if (xml.name() == u"rPh" && skipDepth == 0)
                skipDepth = depth;
            else if (xml.name() == u"t" && skipDepth == 0) {
                text += xml.readElementText(QXmlStreamReader::SkipChildElements); // eats </t>
                --depth;
            }
        } else if (xml.isEndElement()) {
            if (depth == skipDepth)
                skipDepth = 0;
            --depth;
        }
    }
    return decodeEscapes(text);
}

// The zero-based column of a reference like "AB12"; -1 when it has no letters.
int columnOf(QStringView ref)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < ref.size() && i < 4; ++i) {
        const char16_t c = ref[i].toUpper().unicode();
        if (c < u'A' || c > u'Z')
            break;
        column = column * 26 + (c - u'A' + 1);
    }
    return i == 0 ? -1 : column - 1;
}

// Target of the relationship with the given id, as a part name ("xl/worksheets/sheet1.xml").
QString partFromTarget(const QString &target)
{
    if (target.startsWith(u'/'))
        return target.mid(1);
    return QStringLiteral("xl/") + target;
}

} // namespace

bool looksLikeZip(const QByteArray &bytes)
{
    return bytes.startsWith("PK\x03\x04") || bytes.startsWith("PK\x05\x06");
}

QString readXlsxRows(const QByteArray &bytes, const XlsxRowHandler &row, const XlsxLimits &limits)
{
    zip_error_t zerror;
    zip_error_init(&zerror);
    zip_source_t *source =
        zip_source_buffer_create(bytes.constData(), zip_uint64_t(bytes.size()), 0, &zerror);
    if (!source) {
        zip_error_fini(&zerror);
        return damaged(QStringLiteral("zip"));
    }
    ZipPtr zip(zip_open_from_source(source, ZIP_RDONLY, &zerror));
    zip_error_fini(&zerror);
    if (!zip) {
        zip_source_free(source);
        return damaged(QStringLiteral("zip"));
    }
    if (zip_get_num_entries(zip.get(), 0) > limits.maxEntries)
        return damaged(
            inUserLanguage(QStringLiteral("条目过多"), QStringLiteral("too many entries")));

    QString error;
    // The first sheet of the workbook, through its relationship; the usual name otherwise.
    QString sheetPart = QStringLiteral("xl/worksheets/sheet1.xml");
    QString stringsPart = QStringLiteral("xl/sharedStrings.xml");
    const auto workbook =
        readPart(zip.get(), QStringLiteral("xl/workbook.xml"), limits.maxPartBytes, &error);
    const auto rels = readPart(zip.get(), QStringLiteral("xl/_rels/workbook.xml.rels"),
                               limits.maxPartBytes, &error);
    if (!error.isEmpty())
        return error;
    if (!workbook)
        return damaged(QStringLiteral("xl/workbook.xml"));
    QString firstSheetId;
    for (PartReader xml(*workbook); xml.next();) {
        if (xml.isStartElement() && xml.name() == u"sheet") {
            for (const QXmlStreamAttribute &a : xml.attributes()) {
                if (a.name() == u"id") // r:id, whatever the prefix
                    firstSheetId = a.value().toString();
            }
            break;
        }
    }
    if (rels) {
        for (PartReader xml(*rels); xml.next();) {
            if (!xml.isStartElement() || xml.name() != u"Relationship")
                continue;
            const QString id = xml.attributes().value(QLatin1String("Id")).toString();
            const QString type = xml.attributes().value(QLatin1String("Type")).toString();
            const QString target = xml.attributes().value(QLatin1String("Target")).toString();
            if (target.isEmpty())
                continue;
            if (!firstSheetId.isEmpty() && id == firstSheetId)
                sheetPart = partFromTarget(target);
            else if (type.endsWith(QLatin1String("/sharedStrings")))
                stringsPart = partFromTarget(target);
        }
    }

    QStringList strings;
    if (const auto stringsXml = readPart(zip.get(), stringsPart, limits.maxPartBytes, &error)) {
        PartReader xml(*stringsXml);
        while (xml.next()) {
            if (!xml.isStartElement() || xml.name() != u"si")
                continue;
            if (strings.size() >= limits.maxSharedStrings)
                return inUserLanguage(QStringLiteral("xlsx 文件中的字符串超过 %1 个"),
                                      QStringLiteral("the xlsx file holds more than %1 strings"))
                    .arg(limits.maxSharedStrings);
            strings.append(readStringItem(xml));
        }
        if (xml.hasError())
            return damaged(stringsPart + QStringLiteral(": ") + xml.errorString());
    }
    if (!error.isEmpty())
        return error;

    const auto sheetXml = readPart(zip.get(), sheetPart, limits.maxPartBytes, &error);
    if (!error.isEmpty())
        return error;
    if (!sheetXml)
        return damaged(sheetPart);

    PartReader xml(*sheetXml);
    QStringList cells;
    qint64 rows = 0;
    int nextColumn = 0;
    bool inSheetData = false;
    while (xml.next()) {
        if (xml.isStartElement()) {
            if (xml.name() == u"sheetData") {
                inSheetData = true;
            } else if (inSheetData && xml.name() == u"row") {
                cells.clear();
                nextColumn = 0;
            } else if (inSheetData && xml.name() == u"c") {
                const auto attributes = xml.attributes();
                const int referenced = columnOf(attributes.value(QLatin1String("r")));
                const int column = referenced >= 0 ? referenced : nextColumn;
                nextColumn = column + 1;
                const QStringView type = attributes.value(QLatin1String("t"));
                QString value;
                // The cell's children: <v> (a value or a shared string's index), <is> (an
                // inline string), <f> (a formula: its cached value is in <v>).
                int depth = 1;
                while (depth > 0 && xml.next()) {
                    if (xml.isStartElement()) {
                        if (xml.name() == u"v") {
                            const QString v =
                                xml.readElementText(QXmlStreamReader::SkipChildElements);
                            if (type == u"s") {
                                bool ok = false;
                                const int index = v.trimmed().toInt(&ok);
                                value = ok && index >= 0 && index < strings.size() ? strings[index]
                                                                                   : QString();
                            } else {
                                value = decodeEscapes(v);
                            }
                        } else if (xml.name() == u"is") {
                            value = readStringItem(xml);
                        } else {
                            xml.skipCurrentElement();
                        }
                    } else if (xml.isEndElement()) {
                        --depth;
                    }
                }
                if (column >= 0 && column < limits.maxColumns && !value.isEmpty()) {
                    while (cells.size() <= column)
                        cells.append(QString());
                    cells[column] = value;
                }
            }
        } else if (xml.isEndElement()) {
            if (xml.name() == u"sheetData")
                break;
            if (inSheetData && xml.name() == u"row" && !cells.isEmpty()) {
                if (++rows > limits.maxRows)
                    return inUserLanguage(QStringLiteral("xlsx 文件超过 %1 行"),
                                          QStringLiteral("the xlsx file has more than %1 rows"))
                        .arg(limits.maxRows);
                if (!row(cells))
                    return {};
            }
        }
    }
    if (xml.hasError())
        return damaged(sheetPart + QStringLiteral(": ") + xml.errorString());
    return {};
}
