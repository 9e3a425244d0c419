#include "files/batchinput.h"
#include "files/orderfile.h"
#include "files/spreadsheetexport.h"
#include "files/xlsxreader.h"
#include "testzip.h"
#include "web/codepage936.h"
#include "xlsxsheet.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

namespace {

using Table = QList<QStringList>;

enum class Form { Gbk, Utf8Bom, Utf8, XlsxShared, XlsxInline };

// A CSV export as seller centres write it: ="…" cells bare, others quoted where they must be.
QByteArray csvText(const Table &table, Form form)
{
    QString text;
    for (const QStringList &row : table) {
        QStringList fields;
        for (const QString &cell : row) {
            if (cell.startsWith(QLatin1String("=\"")) ||
                !cell.contains(QRegularExpression("[,\"\n]")))
                fields.append(cell);
            else
                fields.append(u'"' + QString(cell).replace(u'"', QLatin1String("\"\"")) + u'"');
        }
        text += fields.join(u',') + QLatin1String("\r\n");
    }
    if (form == Form::Gbk)
        return encode936(text);
    return (form == Form::Utf8Bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
}

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// An xlsx workbook whose first sheet lives under a name of its own, reached through the
// workbook's relationships; strings shared or inline, numbers as numbers.
QByteArray xlsxBytes(const Table &table, Form form, const QString &dir)
{
    QStringList shared;
    QString rows;
    for (qsizetype r = 0; r < table.size(); ++r) {
        rows += QStringLiteral("<row r=\"%1\">").arg(r + 1);
        for (qsizetype c = 0; c < table[r].size(); ++c) {
            const QString &cell = table[r][c];
            const QString ref = QString(QChar(char16_t(u'A' + c))) + QString::number(r + 1);
            bool number = false;
            cell.toLongLong(&number);
            if (cell.isEmpty())
                continue;
            if (number)
                rows += QStringLiteral("<c r=\"%1\"><v>%2</v></c>").arg(ref, cell);
            else if (form == Form::XlsxInline)
                rows += QStringLiteral("<c r=\"%1\" t=\"inlineStr\"><is><t>%2</t></is></c>")
                            .arg(ref, xmlEscaped(cell));
            else {
                rows +=
                    QStringLiteral("<c r=\"%1\" t=\"s\"><v>%2</v></c>").arg(ref).arg(shared.size());
                shared.append(cell);
            }
        }
        rows += QStringLiteral("</row>");
    }
    QString strings = QStringLiteral("<sst xmlns=\"http://schemas.openxmlformats.org/"
                                     "spreadsheetml/2006/main\">");
    for (const QString &s : shared) // a rich-text run split in two, as spreadsheet programs do
        strings += QStringLiteral("<si><r><t>%1</t></r><r><t>%2</t></r></si>")
                       .arg(xmlEscaped(s.left(2)), xmlEscaped(s.mid(2)));
    strings += QStringLiteral("</sst>");
    const QString path = dir + QStringLiteral("/made.xlsx");
    ZipEntries entries = {
        {"xl/workbook.xml",
         "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
         "relationships\"><sheets><sheet name=\"订单\" sheetId=\"1\" r:id=\"rId7\"/></sheets>"
         "</workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships><Relationship Id=\"rId7\" Type=\"x/worksheet\" "
         "Target=\"worksheets/orders.xml\"/><Relationship Id=\"rId9\" "
         "Type=\"x/sharedStrings\" Target=\"strings.xml\"/></Relationships>"},
        {"xl/worksheets/orders.xml",
         ("<worksheet><sheetData>" + rows + "</sheetData></worksheet>").toUtf8()},
    };
    if (form == Form::XlsxShared)
        entries.append({"xl/strings.xml", strings.toUtf8()});
    if (!writeZip(path, entries))
        qWarning("cannot write the workbook");
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray orderFile(const Table &table, Form form, const QString &dir)
{
    return form == Form::XlsxShared || form == Form::XlsxInline ? xlsxBytes(table, form, dir)
                                                                : csvText(table, form);
}

} // namespace

class TestOrderFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static void addForms()
    {
        QTest::addColumn<Form>("form");
        QTest::newRow("csv gbk") << Form::Gbk;
        QTest::newRow("csv utf-8 bom") << Form::Utf8Bom;
        QTest::newRow("csv utf-8") << Form::Utf8;
        QTest::newRow("xlsx shared strings") << Form::XlsxShared;
        QTest::newRow("xlsx inline strings") << Form::XlsxInline;
    }

private slots:
    // One buyer with three orders, a buyer written ="…", decorations, a row without a buyer, in
    // two column orders: each buyer once, in order of first appearance, with their orders.
    void readsBuyersAndOrders_data() { addForms(); }
    void readsBuyersAndOrders()
    {
        QFETCH(Form, form);
        const Table orders = {
            {"订单编号", "买家会员名", "订单状态", "宝贝标题"},
            {"=\"2026110100001\"", "tom.wang", "交易成功", "杯子,红色"},
            {"2026110100002", "=\"tb_123\"", "等待发货", "说\"好\""},
            {"2026110100003", "tom.wang", "交易关闭", "多行\n标题"},
            {"2026110100004", "", "交易成功", "没有买家"},
            {"2026110100005", "\t小猫 ", "交易成功", "x"},
            {"=\"2026110100006\"", "'tom.wang", "交易成功", "x"},
        };
        for (bool reversed : {false, true}) {
            Table table = orders;
            if (reversed) { // another export's column order
                for (QStringList &row : table)
                    std::reverse(row.begin(), row.end());
            }
            const OrderFileResult result = parseOrderFile(orderFile(table, form, m_dir.path()));
            QVERIFY2(result.ok(), qPrintable(result.error));
            QCOMPARE(result.ids(), QStringList({"tom.wang", "tb_123", "小猫"}));
            QCOMPARE(result.buyers[0].orders, 3);
            QCOMPARE(result.buyers[0].orderNumbers,
                     QStringList({"2026110100001", "2026110100003", "2026110100006"}));
            QCOMPARE(result.buyers[1].orderNumbers, QStringList({"2026110100002"}));
            QCOMPARE(result.orders, 5);
            QCOMPARE(result.rowsWithoutBuyer, 1);
            QCOMPARE(result.buyerColumn, QStringLiteral("买家会员名"));
        }
    }

    // A header without a buyer column is named with the columns it has; a named column is read
    // whatever the usual names say.
    void buyerColumn_data() { addForms(); }
    void buyerColumn()
    {
        QFETCH(Form, form);
        const Table table = {{"订单编号", "收货人姓名", "buyerId"}, {"1", "王五", "b1"}};
        const QByteArray bytes = orderFile(table, form, m_dir.path());
        OrderFileOptions options;
        options.buyerColumn = QStringLiteral(" 收货人姓名 ");
        QCOMPARE(parseOrderFile(bytes, options).ids(), QStringList{"王五"});
        QCOMPARE(parseOrderFile(bytes).ids(), QStringList{"b1"}); // buyerId, the last usual name

        const Table noBuyer = {{"订单编号", "收货人姓名"}, {"1", "王五"}};
        const OrderFileResult result = parseOrderFile(orderFile(noBuyer, form, m_dir.path()));
        QVERIFY(!result.ok() && result.noBuyerColumn && result.buyers.isEmpty());
        QVERIFY2(result.error.contains(QStringLiteral("its columns: 订单编号, 收货人姓名")),
                 qPrintable(result.error));
        options.buyerColumn = QStringLiteral("买家旺旺");
        QVERIFY(parseOrderFile(bytes, options).noBuyerColumn);
    }

    // Nothing to read is a defined empty result, not an error and not a crash.
    void emptyFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("blank lines") << QByteArray("\r\n , \r\n\n");
        QTest::newRow("header alone") << QByteArray("订单编号,买家会员名\r\n");
        QTest::newRow("orders without buyers")
            << QByteArray("订单编号,买家会员名\r\n1,\r\n2, \r\n");
    }
    void emptyFiles()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("empty.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        const BatchInput input = readBatchInput(path, {});
        QVERIFY2(input.ok(), qPrintable(input.error));
        QVERIFY(input.orderFile && input.ids.isEmpty() && input.leftOut == 0);
    }

    // 2,500 orders of 2,500 buyers with maxIds 2000: the first 2000 in order, 500 counted; a
    // kept buyer's later orders still count for them.
    void pastTheLimit_data() { addForms(); }
    void pastTheLimit()
    {
        QFETCH(Form, form);
        Table table = {{"买家会员名", "订单编号"}};
        for (int i = 0; i < 2500; ++i)
            table.append({QStringLiteral("买家%1").arg(i), QString::number(100000 + i)});
        table.append({QStringLiteral("买家7"), QStringLiteral("9")});
        table.append({QStringLiteral("买家2400"), QStringLiteral("9")});
        OrderFileOptions options;
        options.maxBuyers = 2000;
        const OrderFileResult result =
            parseOrderFile(orderFile(table, form, m_dir.path()), options);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.buyers.size(), 2000);
        QCOMPARE(result.buyers.last().id, QStringLiteral("买家1999"));
        QCOMPARE(result.leftOut, 500);
        QCOMPARE(result.buyers[7].orderNumbers, QStringList({"100007", "9"}));
        QCOMPARE(result.orders, 2502);
        QVERIFY(leftOutText(2000, result.leftOut).contains(QLatin1String("500")));
    }

    // CSV as exports write it, and as they break it.
    void csvCells_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<bool>("ok");
        QTest::newRow("=\"…\" with a comma")
            << QByteArray("=\"a,b\",1\n") << QStringList{"a,b"} << true;
        QTest::newRow("quoted =\"…\"")
            << QByteArray("\"=\"\"tb_1\"\"\",1\n") << QStringList{"tb_1"} << true;
        QTest::newRow("line break in a quoted cell")
            << QByteArray("\"a\nb\",1\rc,2") << QStringList{"a\nb", "c"} << true;
        QTest::newRow("a quote never closed")
            << QByteArray("\"a,1\n") + QByteArray(70000, 'x') << QStringList() << false;
        QTest::newRow("NUL byte") << QByteArray("a\0,1\n", 5) << QStringList() << false;
    }
    void csvCells()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, ids);
        QFETCH(bool, ok);
        const OrderFileResult result = parseOrderFile("buyer,订单编号\n" + body);
        QCOMPARE(result.ok(), ok);
        QCOMPARE(result.ids(), ids);
    }

    // Workbooks from outside: damaged, hostile or oversized ones are refused with a message.
    void hostileWorkbooks_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<QByteArray>("strings");
        QTest::addColumn<QString>("error");
        const QByteArray head = "<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>buyer</t>"
                                "</is></c></row>";
        QTest::newRow("entity declaration")
            << QByteArray("<!DOCTYPE x [<!ENTITY a \"aaaa\">]>") + head + "</sheetData></worksheet>"
            << QByteArray() << "document type";
        QTest::newRow("unpacks too large")
            << head + QByteArray(2 * 1024 * 1024, ' ') + "</sheetData></worksheet>" << QByteArray()
            << "larger";
        QTest::newRow("broken xml") << head + "<row><c>" << QByteArray() << "damaged";
        QTest::newRow("too many shared strings")
            << head + "</sheetData></worksheet>"
            << "<sst>" + QByteArray("<si/>").repeated(1001) + "</sst>"
            << "more than 1000 strings";
        QTest::newRow("column past the last") // ignored, not an error
            << head + "<row><c r=\"XFD2\" t=\"inlineStr\"><is><t>far</t></is></c></row>"
                      "</sheetData></worksheet>"
            << QByteArray() << "";
    }
    void hostileWorkbooks()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(QByteArray, strings);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(QStringLiteral("hostile.xlsx"));
        ZipEntries entries = {{"xl/workbook.xml", "<workbook/>"},
                              {"xl/worksheets/sheet1.xml", sheet}};
        if (!strings.isEmpty())
            entries.append({"xl/sharedStrings.xml", strings});
        QVERIFY(writeZip(path, entries));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        XlsxLimits limits;
        limits.maxPartBytes = 1024 * 1024;
        limits.maxSharedStrings = 1000;
        int rows = 0;
        const QString got = readXlsxRows(
            file.readAll(),
            [&](const QStringList &cells) {
                ++rows;
                return cells.size() <= limits.maxColumns;
            },
            limits);
        QVERIFY2(error.isEmpty() ? got.isEmpty() : got.contains(error), qPrintable(got));
        QVERIFY(
            parseOrderFile("PK\x03\x04 no zip at all").error.contains(QLatin1String("damaged")));
    }

    // An export may name one long number on every row: the table keeps the first numbers, each
    // cut, and says how many there are; the order count stays exact.
    void orderNumbersBounded()
    {
        Table table = {{"买家会员名", "订单编号"}};
        for (int i = 0; i < kMaxOrderNumbersKept + 5; ++i)
            table.append({"tom", QString(1000, u'7') + QString::number(i)});
        table.append(QStringList{"tom", QString()});
        const OrderFileResult result =
            parseOrderFile(orderFile(table, Form::XlsxShared, m_dir.path()));
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.buyers.size(), 1);
        QList<BatchRow> rows(1);
        rows[0].id = "tom";
        addOrderColumns(&rows, result.buyers);
        BatchTableOptions options;
        options.orderColumns = true;
        const QStringList values = batchTableValues(rows[0], options);
        QCOMPARE(values.at(values.size() - 2), QString::number(kMaxOrderNumbersKept + 6));
        const QString cut = QString(kMaxOrderNumberChars - 1, u'7') + u'…';
        QCOMPARE(values.last(), QStringList(kMaxOrderNumbersKept, cut).join(u'；') +
                                    QStringLiteral("等%1个").arg(kMaxOrderNumbersKept + 5));
    }

    // The table of an order file: the order columns, 高 red and 未知 grey, the summary sheet, and
    // the same table as formula-safe CSV.
    void orderTable()
    {
        QList<BatchRow> rows(4);
        const RiskLevel levels[] = {RiskLevel::Low, RiskLevel::High, RiskLevel::Unknown,
                                    RiskLevel::High};
        for (int i = 0; i < 4; ++i) {
            rows[i].id = QStringLiteral("b%1").arg(i);
            rows[i].risk = levels[i];
        }
        rows[0].record.nick = QStringLiteral("=HYPERLINK(\"http://x\")");
        rows[2].record.address = QStringLiteral("@SUM(1)");
        rows[3].seller.listed = true;
        rows[3].seller.note = QStringLiteral("收货后退款");
        rows[3].sellerMark = QStringLiteral("黑名单：收货后退款");
        addOrderColumns(&rows, {{"b1", 3, {"1", "2", "3"}}, {"b2", 1, {}}});
        sortRowsByRisk(&rows);
        QStringList order;
        for (const BatchRow &row : rows)
            order.append(row.id);
        QCOMPARE(order, QStringList({"b1", "b3", "b2", "b0"}));

        BatchTableOptions options;
        options.orderColumns = options.markRisk = options.summarySheet = true;
        const QString path = m_dir.filePath(QStringLiteral("orders-table.xlsx"));
        QString error;
        QVERIFY2(writeBatchSpreadsheet(path, rows, &error, options), qPrintable(error));
        const XlsxSheet sheet = readXlsxSheet(path);
        QCOMPARE(sheet.cells.value("M1").value, QStringLiteral("订单数"));
        QCOMPARE(sheet.cells.value("M2").value, QStringLiteral("3"));
        QCOMPARE(sheet.cells.value("N2").value, QStringLiteral("1；2；3"));
        const QString red = sheet.cells.value("B2").style;
        const QString grey = sheet.cells.value("B4").style;
        const QString plain = sheet.cells.value("B5").style;
        QVERIFY(red != grey && red != plain && grey != plain);
        QCOMPARE(sheet.cells.value("B3").style, red); // blacklisted and 高
        const XlsxSheet summary = readXlsxSheet(path, QStringLiteral("sheet2.xml"));
        QVERIFY2(summary.error.isEmpty(), qPrintable(summary.error));
        QCOMPARE(summary.cells.value("A2").value, QStringLiteral("高"));
        QCOMPARE(summary.cells.value("B2").value, QStringLiteral("2"));
        QCOMPARE(summary.cells.value("B6").value, QStringLiteral("4"));
        QCOMPARE(summary.cells.value("A9").value, QStringLiteral("b3"));
        QCOMPARE(summary.cells.value("B9").value, QStringLiteral("收货后退款"));
        // A warning goes between the counts and the blacklist; the counts have their chart.
        options.warnings = {QStringLiteral("好评数：4 个买家中 4 个为空，页面规则可能已过期")};
        const QString warned = m_dir.filePath(QStringLiteral("orders-warned.xlsx"));
        QVERIFY2(writeBatchSpreadsheet(warned, rows, &error, options), qPrintable(error));
        const XlsxSheet second = readXlsxSheet(warned, QStringLiteral("sheet2.xml"));
        QCOMPARE(second.cells.value("A8").value, options.warnings.first());
        QCOMPARE(second.cells.value("A11").value, QStringLiteral("b3"));
        int zipError = 0;
        zip_t *archive = zip_open(QFile::encodeName(warned).constData(), ZIP_RDONLY, &zipError);
        QVERIFY(archive);
        const bool hasChart = zip_name_locate(archive, "xl/charts/chart1.xml", 0) >= 0;
        zip_close(archive);
        QVERIFY(hasChart);

        const QString csv = m_dir.filePath(QStringLiteral("orders-table.csv"));
        QVERIFY2(writeBatchCsv(csv, rows, &error, options), qPrintable(error));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF买家名称,"));
        QVERIFY(bytes.contains(",订单数,订单编号\r\nb1,"));
        QVERIFY(bytes.contains(",\"'=HYPERLINK(\"\"http://x\"\")\","));
        QVERIFY(bytes.contains(",'@SUM(1),"));
        QCOMPARE(bytes.count("\r\n"), 5);
    }
};

QTEST_MAIN(TestOrderFile)

#include "test_orderfile.moc"
