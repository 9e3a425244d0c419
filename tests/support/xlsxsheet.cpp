#include "xlsxsheet.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

#include <zip.h>

namespace {

bool readEntry(zip_t *archive, const char *name, QByteArray *out)
{
    zip_stat_t st;
    if (zip_stat(archive, name, 0, &st) != 0)
        return false;
    zip_file_t *file = zip_fopen(archive, name, 0);
    if (!file)
        return false;
    out->resize(qsizetype(st.size));
    zip_int64_t n = zip_fread(file, out->data(), st.size);
    zip_fclose(file);
    return n == zip_int64_t(st.size);
}

QString decodeEscapes(QString text)
{
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype last = 0;
    auto it = escape.globalMatch(text);
    while (it.hasNext()) {
        auto m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

// The text of an <si> or <is> element: every <t> inside, rich-text runs included.
QString readStringItem(QXmlStreamReader &xml)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == u"t")
                text += xml.readElementText(); // consumes </t>
            else
                ++depth;
        } else if (xml.isEndElement()) {
            --depth;
        }
    }
    return decodeEscapes(text);
}

int rowOf(const QString &ref)
{
    qsizetype i = 0;
    while (i < ref.size() && ref[i].isLetter())
        ++i;
    return ref.mid(i).toInt();
}

} // namespace

XlsxSheet readXlsxSheet(const QString &path, const QString &sheetName)
{
    XlsxSheet sheet;
    int err = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!archive) {
        sheet.error = QStringLiteral("not a zip archive");
        return sheet;
    }
    QByteArray sheetXml, stringsXml, relsXml;
    const QByteArray sheetPart = "xl/worksheets/" + sheetName.toUtf8();
    bool ok = readEntry(archive, sheetPart.constData(), &sheetXml);
    readEntry(archive, "xl/sharedStrings.xml", &stringsXml); // absent when no string was written
    readEntry(archive, "xl/worksheets/_rels/sheet1.xml.rels", &relsXml);
    zip_close(archive);
    if (!ok) {
        sheet.error = QStringLiteral("no ") + QString::fromUtf8(sheetPart);
        return sheet;
    }

    QStringList strings;
    for (QXmlStreamReader xml(stringsXml); !xml.atEnd();) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"si")
            strings.append(readStringItem(xml));
    }
    QMap<QString, QString> targets;
    for (QXmlStreamReader xml(relsXml); !xml.atEnd();) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"Relationship")
            targets.insert(xml.attributes().value("Id").toString(),
                           xml.attributes().value("Target").toString());
    }

    QXmlStreamReader xml(sheetXml);
    QString ref;
    XlsxCell cell;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == u"c") {
                ref = xml.attributes().value("r").toString();
                cell = XlsxCell();
                cell.type = xml.attributes().value("t").toString();
                cell.style = xml.attributes().value("s").toString();
            } else if (xml.name() == u"f") {
                cell.hasFormula = true;
                cell.formula = xml.readElementText();
            } else if (xml.name() == u"v") {
                const QString v = xml.readElementText();
                if (cell.type == u"s") {
                    const int index = v.toInt(&ok);
                    cell.value = ok && index >= 0 && index < strings.size() ? strings[index]
                                                                            : QStringLiteral("?");
                } else {
                    cell.value = v;
                }
            } else if (xml.name() == u"is") {
                cell.value = readStringItem(xml);
            } else if (xml.name() == u"hyperlink") {
                const QString id =
                    xml.attributes()
                        .value(
                            QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/"
                                           "relationships"),
                            QStringLiteral("id"))
                        .toString();
                sheet.hyperlinks.insert(xml.attributes().value("ref").toString(),
                                        targets.value(id));
            }
        } else if (xml.isEndElement() && xml.name() == u"c") {
            sheet.cells.insert(ref, cell);
            sheet.maxRow = qMax(sheet.maxRow, rowOf(ref));
        }
    }
    if (xml.hasError())
        sheet.error = xml.errorString();
    return sheet;
}

QStringList xlsxPartsNotWellFormed(const QString &path)
{
    int err = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!archive)
        return {QStringLiteral("cannot open %1").arg(path)};
    QStringList bad;
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char *name = zip_get_name(archive, zip_uint64_t(i), 0);
        const QString part = QString::fromUtf8(name);
        if (!part.endsWith(u".xml") && !part.endsWith(u".rels") && !part.endsWith(u".vml"))
            continue;
        QByteArray bytes;
        if (!readEntry(archive, name, &bytes)) {
            bad.append(part + QStringLiteral(": unreadable"));
            continue;
        }
        QXmlStreamReader xml(bytes);
        while (!xml.atEnd())
            xml.readNext();
        if (xml.hasError())
            bad.append(part + QStringLiteral(": ") + xml.errorString());
    }
    zip_close(archive);
    return bad;
}
