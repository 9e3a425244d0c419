#include "files/batchjournal.h"
#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "web/codepage936.h"
#include "xlsxsheet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString cellRef(int row, int column) // both from 1
{
    return QString(QChar(u'A' + column - 1)) + QString::number(row);
}

BatchRow makeRow(const QString &id, const QString &fill, const QString &url = QString())
{
    BatchRow row;
    row.id = id;
    BuyerCreditRecord &r = row.record;
    r.buyerId = QStringLiteral("not written");
    r.nick = fill + QStringLiteral("-nick");
    r.regTime = fill + QStringLiteral("-reg");
    r.address = fill + QStringLiteral("-addr");
    r.verification = fill + QStringLiteral("-ver");
    r.goodRate = fill + QStringLiteral("-rate");
    r.goodCount = fill + QStringLiteral("-good");
    r.neutralCount = fill + QStringLiteral("-neutral");
    r.badCount = fill + QStringLiteral("-bad");
    r.neutralGiven = fill + QStringLiteral("-ngiven");
    r.badGiven = fill + QStringLiteral("-bgiven");
    r.creditUrl = url;
    return row;
}

// Every column of a record set to the same text.
BatchRow uniformRow(const QString &text)
{
    BatchRow row;
    row.id = text;
    for (QString *f :
         {&row.record.nick, &row.record.regTime, &row.record.address, &row.record.verification,
          &row.record.goodRate, &row.record.goodCount, &row.record.neutralCount,
          &row.record.badCount, &row.record.neutralGiven, &row.record.badGiven})
        *f = text;
    return row;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    XlsxSheet writeAndRead(const QList<BatchRow> &rows)
    {
        const QString path = m_dir.filePath(QStringLiteral("table.xlsx"));
        QString error;
        if (!writeBatchSpreadsheet(path, rows, &error))
            qWarning("%s", qPrintable(error));
        return readXlsxSheet(path);
    }

private slots:
    // Tables that cannot be written where asked are kept in the temporary folder: ours.
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("tmp")));
        qputenv("TMPDIR", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    }
    void parse_data();
    void parse();
    void readsAtMost101Ids();
    void countsOnlyPastTheLastId();
    void decodesGbkFile();
    void unreadableFile_data();
    void unreadableFile();
    void idFileName_data();
    void idFileName();
    void progressTexts();

    void tableCells();
    void textCellsStayText_data();
    void textCellsStayText();
    void tableIsWellFormedXml_data();
    void tableIsWellFormedXml();
    void creditAddress_data();
    void creditAddress();
    void extraColumns();
    void emptyTableHasHeaderAlone();
    void fullBatchRows();
    void unwritablePath_data();
    void unwritablePath();
    void replacesExistingOutput();
    void outputTargets_data();
    void outputTargets();
    void tempFilesAreNew();
    void staleTempTablesRemoved();
    void journalFiles();
};

void TestExport::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("a,b") << QByteArray("a,b") << QStringList{"a", "b"};
    QTest::newRow("CRLF LF CR") << QByteArray("a\r\nb\nc\rd\r\n")
                                << QStringList{"a", "b", "c", "d"};
    QTest::newRow("lines and commas") << QByteArray("a,b\nc") << QStringList{"a", "b", "c"};
    QTest::newRow("blank fields skipped")
        << QByteArray("a,,b,\n\n   \n,c,\r\n\r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("spaces kept") << QByteArray(" a ,b ") << QStringList{" a ", "b "};
    QTest::newRow("quoted commas")
        << QByteArray("\"a,b\",c\n\"x,,y\"") << QStringList{"a,b", "c", "x,,y"};
    QTest::newRow("doubled quote")
        << QByteArray("\"a\"\"b\",\"\"\"\"") << QStringList{"a\"b", "\""};
    QTest::newRow("spaces before quote") << QByteArray("  \" a,b \"") << QStringList{" a,b "};
    QTest::newRow("text after closing quote")
        << QByteArray("\"ab\"cd,e") << QStringList{"abcd", "e"};
    QTest::newRow("quoted blank skipped") << QByteArray("\"\",\"  \",a") << QStringList{"a"};
    QTest::newRow("unclosed quote ends at line end")
        << QByteArray("\"a,b\nc") << QStringList{"a,b", "c"};
    QTest::newRow("quote inside unquoted field")
        << QByteArray("a\"b,c") << QStringList{"a\"b", "c"};
    QTest::newRow("utf-8") << QByteArray("张三,李四\n") << QStringList{"张三", "李四"};
    QTest::newRow("utf-8 with BOM") << QByteArray("\xEF\xBB\xBF张三,b") << QStringList{"张三", "b"};
    QTest::newRow("BOM only") << QByteArray("\xEF\xBB\xBF") << QStringList();
    QTest::newRow("BOM inside the file is kept")
        << QByteArray("a\n\xEF\xBB\xBF\n") << QStringList{"a", QStringLiteral("\uFEFF")};
    QTest::newRow("gbk") << (encode936(u"张三") + "," + encode936(u"李四"))
                         << QStringList{"张三", "李四"};
    QTest::newRow("gbk with quotes")
        << (QByteArray("\"") + encode936(u"王,五") + "\"") << QStringList{"王,五"};
    QTest::newRow("gbk decides the whole file")
        << (QByteArray("abc\n") + encode936(u"中")) << QStringList{"abc", "中"};
}

void TestExport::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, ids);
    const IdFileResult fromMemory = parseIdFile(bytes);
    QVERIFY2(fromMemory.ok(), qPrintable(fromMemory.error));
    QCOMPARE(fromMemory.ids, ids);
    const IdFileResult fromFile = readIdFile(writeFile(QStringLiteral("ids.txt"), bytes));
    QVERIFY2(fromFile.ok(), qPrintable(fromFile.error));
    QCOMPARE(fromFile.ids, ids);
}

void TestExport::readsAtMost101Ids()
{
    QByteArray bytes;
    QStringList expected;
    for (int i = 0; i < 150; ++i) {
        bytes += "id" + QByteArray::number(i) + (i % 3 ? "," : "\r\n");
        if (i < 101)
            expected << QStringLiteral("id%1").arg(i);
    }
    // Blank fields between the ids do not use up the allowance.
    bytes.prepend(",,\n\n");
    const IdFileResult result = readIdFile(writeFile(QStringLiteral("150.txt"), bytes));
    QVERIFY(result.ok());
    QCOMPARE(result.ids.size(), kMaxBatchIds);
    QCOMPARE(result.ids, expected);
    // The rest are counted, so the user can be told, by the same rules: a quoted comma is no
    // separator, blank fields are no ids.
    bytes += "\"x,y\", ,\n\n\"\"";
    const IdFileResult more = readIdFile(writeFile(QStringLiteral("151.txt"), bytes));
    QCOMPARE(more.ids, expected);
    QCOMPARE(more.leftOut, 150 - 101 + 1);
    QCOMPARE(parseIdFile(bytes).leftOut, more.leftOut);
}

void TestExport::countsOnlyPastTheLastId()
{
    // After the 101st id comes what would be an error among the ids kept: an over-long field
    // and a NUL byte. Past the limit they are only counted, never held.
    QByteArray bytes;
    for (int i = 0; i < 101; ++i)
        bytes += "x" + QByteArray::number(i) + "\n";
    bytes += QByteArray(kMaxIdFieldBytes * 4, 'z') + QByteArray("\n\0", 3);
    const IdFileResult result = readIdFile(writeFile(QStringLiteral("long.txt"), bytes));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.ids.size(), 101);
    QCOMPARE(result.ids.last(), QStringLiteral("x100"));
    QCOMPARE(result.leftOut, 2);

    // Among the first 101 it is an error, not an unbounded read.
    const IdFileResult bad = readIdFile(
        writeFile(QStringLiteral("long2.txt"), "a\n" + bytes.right(kMaxIdFieldBytes + 1)));
    QVERIFY(!bad.ok());
    QVERIFY(bad.ids.isEmpty());
}

void TestExport::decodesGbkFile()
{
    // Bytes that are valid code page 936 but not valid UTF-8, across several chunks of the
    // reader, with a UTF-8-looking id first.
    QByteArray bytes = "plain\n";
    for (int i = 0; i < 100; ++i)
        bytes += encode936(QStringLiteral("买家%1").arg(i)) + QByteArray(2000, ' ') + ",";
    const IdFileResult result = readIdFile(writeFile(QStringLiteral("gbk.txt"), bytes));
    QVERIFY(result.ok());
    QCOMPARE(result.ids.size(), 101);
    QCOMPARE(result.ids[0], QStringLiteral("plain"));
    QCOMPARE(result.ids[100], QStringLiteral("买家99") + QString(2000, u' '));
}

void TestExport::unreadableFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // written first when not empty
    QTest::newRow("missing") << QStringLiteral("missing.txt") << QByteArray();
    QTest::newRow("folder") << QStringLiteral(".") << QByteArray();
    QTest::newRow("empty name") << QString() << QByteArray();
    QTest::newRow("utf-16") << QStringLiteral("u16.txt")
                            << QByteArray("\xFF\xFE"
                                          "a\0,\0",
                                          6);
    QTest::newRow("utf-16 without BOM")
        << QStringLiteral("u16le.txt") << QByteArray("a\0b\0,\0c\0\r\0\n\0", 12);
    QTest::newRow("utf-16 big-endian without BOM")
        << QStringLiteral("u16be.txt") << QByteArray("\0a\0b\0,\0c", 8);
    QTest::newRow("over-long field")
        << QStringLiteral("huge.txt") << QByteArray(kMaxIdFieldBytes + 1, 'q');
    if (QFile::exists(QStringLiteral("/proc/self/mem"))) // reading it at offset 0 fails
        QTest::newRow("read error") << QStringLiteral("/proc/self/mem") << QByteArray();
}

void TestExport::unreadableFile()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    if (!content.isEmpty())
        path = writeFile(path, content);
    else if (!path.isEmpty() && QDir::isRelativePath(path))
        path = m_dir.filePath(path);
    const IdFileResult result = readIdFile(path);
    QVERIFY(!result.ok());
    QVERIFY(result.ids.isEmpty());
    QVERIFY2(result.error.contains(path), qPrintable(result.error));
}

void TestExport::idFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "/home/u/ids.txt" << true;
    QTest::newRow("upper case") << "/home/u/IDS.TXT" << false;
    QTest::newRow("txt in the folder") << "/home/txtfiles/IDS.TXT" << true;
    QTest::newRow("txt inside the name") << "/home/u/list.txt.bak" << true;
    QTest::newRow("surrounding spaces") << "  /home/u/a.txt  " << true;
    QTest::newRow("cancelled dialog") << "" << false;
    QTest::newRow("csv") << "/home/u/ids.csv" << false;
}

void TestExport::idFileName()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QCOMPARE(isIdFileName(name), accepted);
}

void TestExport::progressTexts()
{
    QCOMPARE(batchProgressText(5, 2, QStringLiteral("tb_abc")),
             QStringLiteral("共需要查询5个买家,正在查询第2个:tb_abc"));
    QCOMPARE(batchProgressText(101, 0, QStringLiteral(" x ")),
             QStringLiteral("共需要查询101个买家,正在查询第0个: x "));
    QCOMPARE(batchDoneText(), QStringLiteral("查询完毕,向EXCEL输送数据"));
}

void TestExport::tableCells()
{
    const QList<BatchRow> rows = {makeRow(QStringLiteral(" id1 "), QStringLiteral("r1"),
                                          QStringLiteral("http://rate.example/u1")),
                                  makeRow(QStringLiteral("买家2"), QStringLiteral("值2"))};
    const XlsxSheet sheet = writeAndRead(rows);
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    QCOMPARE(sheet.maxRow, 3);
    QVERIFY(!sheet.cells.contains(QStringLiteral("M1"))); // no extra columns unless asked for

    const QStringList headers = {"买家名称", "姓名(昵称)", "注册时间",   "地址",
                                 "是否认证", "好评率",     "好评数",     "中评数",
                                 "差评数",   "给他人中评", "给他人差评", "信用网址"};
    QCOMPARE(batchTableHeaders(), headers);
    for (int c = 1; c <= 12; ++c) {
        QCOMPARE(sheet.cells.value(cellRef(1, c)).value, headers[c - 1]);
        QCOMPARE(sheet.cells.value(cellRef(1, c)).type, QStringLiteral("s"));
    }

    const QStringList suffixes = {"-nick", "-reg",     "-addr", "-ver",    "-rate",
                                  "-good", "-neutral", "-bad",  "-ngiven", "-bgiven"};
    for (int r = 0; r < rows.size(); ++r) {
        const int row = r + 2;
        QCOMPARE(sheet.cells.value(cellRef(row, 1)).value, rows[r].id);
        for (int c = 2; c <= 11; ++c) {
            const XlsxCell cell = sheet.cells.value(cellRef(row, c));
            QCOMPARE(cell.value,
                     (r == 0 ? QStringLiteral("r1") : QStringLiteral("值2")) + suffixes[c - 2]);
            QCOMPARE(cell.type, QStringLiteral("s"));
            QVERIFY(!cell.hasFormula);
        }
    }
    const XlsxCell link = sheet.cells.value(QStringLiteral("L2"));
    QVERIFY(link.hasFormula);
    QCOMPARE(link.formula,
             QStringLiteral("HYPERLINK(\"http://rate.example/u1\",\"http://rate.example/u1\")"));
    QCOMPARE(link.type, QStringLiteral("str"));
    QCOMPARE(link.value, QStringLiteral("http://rate.example/u1"));
    QVERIFY(sheet.hyperlinks.isEmpty());
}

void TestExport::textCellsStayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("formula") << "=1+1";
    QTest::newRow("formula call") << "=HYPERLINK(\"http://evil\")";
    QTest::newRow("leading zeros") << "00123";
    QTest::newRow("number") << "-12.5";
    QTest::newRow("exponent") << "1e5";
    QTest::newRow("percent") << "99.5%";
    QTest::newRow("date") << "2009-03-01";
    QTest::newRow("boolean") << "TRUE";
    QTest::newRow("escape look-alike") << "a_x0041_b";
    QTest::newRow("markup") << "<b>&amp;</b>";
    QTest::newRow("control character") << "a\x01z";
    QTest::newRow("surrounding spaces") << "  x  ";
    QTest::newRow("chinese") << "支付宝认证";
    QTest::newRow("astral") << "\xF0\x9F\x98\x80";
}

void TestExport::textCellsStayText()
{
    QFETCH(QString, text);
    const XlsxSheet sheet = writeAndRead({uniformRow(text)});
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    for (int c = 1; c <= 11; ++c) {
        const XlsxCell cell = sheet.cells.value(cellRef(2, c));
        QVERIFY2(cell.type == u"s" || cell.type == u"inlineStr", qPrintable(cell.type));
        QVERIFY(!cell.hasFormula);
        QCOMPARE(cell.value, QString(text).replace(u'\x01', QChar::ReplacementCharacter));
    }
}

void TestExport::tableIsWellFormedXml_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("control character") << "a\x01z";
    QTest::newRow("escape sequence") << "\x1b[31mred\x1b]0;title\x07";
    QTest::newRow("vertical tab, form feed") << "a\x0b\x0cz";
    QTest::newRow("lone surrogate")
        << QString(QStringLiteral("a") + QChar(0xD800) + QStringLiteral("z"));
    QTest::newRow("non-character")
        << QString(QStringLiteral("a") + QChar(0xFFFF) + QStringLiteral("z"));
    QTest::newRow("markup") << "<x>&amp;\"'</x>";
}

// Every text a table carries (cells, the blacklist note on the id, the summary's reasons and
// warnings) goes into the file as XML a strict parser reads.
void TestExport::tableIsWellFormedXml()
{
    QFETCH(QString, text);
    BatchRow row = uniformRow(text);
    row.record.creditUrl = QStringLiteral("http://a/") + text;
    row.seller.listed = true;
    row.seller.note = text;
    row.sellerMark = QStringLiteral("黑名单：") + text;
    row.risk = RiskLevel::High;
    BatchTableOptions options;
    options.markRisk = options.summarySheet = true;
    options.warnings = {text};
    const QString path = m_dir.filePath(QStringLiteral("strict.xlsx"));
    QString error;
    QVERIFY2(writeBatchSpreadsheet(path, {row}, &error, options), qPrintable(error));
    const QStringList bad = xlsxPartsNotWellFormed(path);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(u'\n')));
    const QString shown = readXlsxSheet(path).cells.value(QStringLiteral("A2")).value;
    QVERIFY(std::none_of(shown.cbegin(), shown.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c.isSurrogate() || c.unicode() == 0xFFFF;
    }));
}

void TestExport::creditAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("kind"); // formula, link or text
    QTest::addColumn<QString>("formula");

    QTest::newRow("empty") << QString() << "formula"
                           << "HYPERLINK(\"\",\"\")";
    QTest::newRow("double quote") << "http://a/x\"y"
                                  << "formula"
                                  << "HYPERLINK(\"http://a/x\"\"y\",\"http://a/x\"\"y\")";
    QTest::newRow("break-out attempt")
        << "\",\"x\")+CMD(\""
        << "formula"
        << "HYPERLINK(\"\"\",\"\"x\"\")+CMD(\"\"\",\"\"\",\"\"x\"\")+CMD(\"\"\")";
    const QString at255 = "http://a/" + QString(255 - 9, u'b');
    QTest::newRow("255 characters") << at255 << "formula"
                                    << "HYPERLINK(\"" + at255 + "\",\"" + at255 + "\")";
    QTest::newRow("256 characters") << "http://a/" + QString(256 - 9, u'b') << "link"
                                    << "";
    QTest::newRow("long https") << "HTTPS://a/" + QString(2000, u'c') << "link"
                                << "";
    QTest::newRow("long, not a web address") << "internal:" + QString(300, u'd') << "text"
                                             << "";
    QTest::newRow("too long for a link") << "http://a/" + QString(2100, u'e') << "text"
                                         << "";
    QTest::newRow("long, escapes push it over") << "http://a/" + QString(1000, u'"') << "text"
                                                << "";
    QTest::newRow("control character") << "http://a/\x01"
                                       << "text"
                                       << "";
}

void TestExport::creditAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, kind);
    QFETCH(QString, formula);
    const XlsxSheet sheet =
        writeAndRead({makeRow(QStringLiteral("id"), QStringLiteral("v"), address)});
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    const XlsxCell cell = sheet.cells.value(QStringLiteral("L2"));
    QCOMPARE(cell.value, QString(address).replace(u'\x01', QChar::ReplacementCharacter));
    if (kind == u"formula") {
        QVERIFY(cell.hasFormula);
        QCOMPARE(cell.formula, formula);
        QVERIFY(sheet.hyperlinks.isEmpty());
    } else {
        QVERIFY(!cell.hasFormula);
        QCOMPARE(cell.type, QStringLiteral("s"));
        QCOMPARE(sheet.hyperlinks.contains(QStringLiteral("L2")), kind == u"link");
        if (kind == u"link")
            QCOMPARE(sheet.hyperlinks.value(QStringLiteral("L2")), address);
    }
}

void TestExport::extraColumns()
{
    BatchRow row;
    row.id = QStringLiteral("buyer");
    row.record.regTime = QStringLiteral("2001-01-01");
    row.record.verification = QStringLiteral("没有认证");
    row.record.goodRate = QStringLiteral("99");
    row.record.goodCount = QStringLiteral("1,251");
    row.record.badCount = QStringLiteral("0");
    row.record.badGiven = QStringLiteral("0");
    PageResult card;
    card.page = QStringLiteral("nameCard");
    card.outcome = PageOutcome::Ok;
    PageResult popup;
    popup.page = QStringLiteral("popup");
    popup.outcome = PageOutcome::Blocked;
    PageResult config; // our own site's download: not one of the buyer's pages
    config.page = QStringLiteral("config");
    config.outcome = PageOutcome::Ok;
    row.pages = {config, card, popup};
    row.status = LookupStatus::Blocked;

    BatchTableOptions options;
    options.extraColumns = true;
    options.today = QDate(2024, 1, 1);
    const QString path = m_dir.filePath(QStringLiteral("extra.xlsx"));
    QString error;
    QVERIFY2(writeBatchSpreadsheet(path, {row}, &error, options), qPrintable(error));
    const XlsxSheet sheet = readXlsxSheet(path);
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    const QStringList expected = {"1251",
                                  "3钻",
                                  "未知",
                                  "没有认证；页面被拦截：弹出名片页",
                                  "页面被拦截：名片页 正常，弹出名片页 被拦截",
                                  "",
                                  ""};
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(sheet.cells.value(cellRef(1, 13 + c)).value, batchTableExtraHeaders()[c]);
        QCOMPARE(sheet.cells.value(cellRef(2, 13 + c)).value, expected[c]);
    }
    QVERIFY(!sheet.cells.contains(QStringLiteral("T1")));
    QCOMPARE(sheet.cells.value(QStringLiteral("L2")).formula,
             QStringLiteral("HYPERLINK(\"\",\"\")"));
}

void TestExport::emptyTableHasHeaderAlone()
{
    const XlsxSheet sheet = writeAndRead({});
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    QCOMPARE(sheet.maxRow, 1);
    QCOMPARE(sheet.cells.size(), 12);
    QCOMPARE(sheet.cells.value(QStringLiteral("L1")).value, QStringLiteral("信用网址"));
}

void TestExport::fullBatchRows()
{
    // A batch whose every page failed: ids and empty cells, the empty-address formula.
    QList<BatchRow> rows;
    for (int i = 0; i < kMaxBatchIds; ++i)
        rows.append(BatchRow{QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), {}, {}});
    const XlsxSheet sheet = writeAndRead(rows);
    QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
    QCOMPARE(sheet.maxRow, 102);
    QCOMPARE(sheet.cells.value(QStringLiteral("A2")).value, QStringLiteral("00000"));
    QCOMPARE(sheet.cells.value(QStringLiteral("A102")).value, QStringLiteral("00100"));
    for (int c = 2; c <= 11; ++c) {
        const XlsxCell cell = sheet.cells.value(cellRef(102, c));
        QVERIFY(cell.value.isEmpty());
        QVERIFY(!cell.hasFormula);
        QVERIFY(cell.type != u"n" && cell.type != u"str");
    }
    QCOMPARE(sheet.cells.value(QStringLiteral("L102")).formula,
             QStringLiteral("HYPERLINK(\"\",\"\")"));
}

void TestExport::unwritablePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no/such/out.xlsx"));
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("parent is a file")
        << writeFile(QStringLiteral("plain"), "x") + QStringLiteral("/out.xlsx");
    QTest::newRow("empty name") << QString();
    if (QFileInfo(QStringLiteral("/proc/self")).isDir())
        QTest::newRow("read-only file system") << QStringLiteral("/proc/self/out.xlsx");
}

void TestExport::unwritablePath()
{
    QFETCH(QString, path);
    QString error;
    QVERIFY(!writeBatchSpreadsheet(path, {makeRow("a", "b")}, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
}

void TestExport::replacesExistingOutput()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.xlsx"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older file");
    old.close();
    QString error;
    QVERIFY2(writeBatchSpreadsheet(path, {makeRow("a", "b")}, &error), qPrintable(error));
    QCOMPARE(readXlsxSheet(path).cells.value(QStringLiteral("A2")).value, QStringLiteral("a"));
    // Nothing left behind beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("out.xlsx")});
}

// What may stand at OUT: the table replaces a regular file (keeping its mode) and writes
// through a symbolic link to one; anything else is refused and left as it is. Whenever the
// table cannot be written where asked, it is kept in a new temporary file named in the message.
void TestExport::outputTargets_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("message");
    QTest::newRow("new file") << "none" << true << "";
    QTest::newRow("private file keeps its mode") << "file0600" << true << "";
    QTest::newRow("link to a file") << "symlink" << true << "";
    QTest::newRow("dangling link") << "dangling" << false << "symbolic link to a missing file";
    QTest::newRow("pipe") << "fifo" << false << "not a regular file";
    QTest::newRow("id file") << "idfile" << false << "is the id file";
    QTest::newRow("id file by another name") << "hardlink" << false << "is the id file";
    QTest::newRow("folder gone") << "nofolder" << false << "does not exist";
}

void TestExport::outputTargets()
{
    QFETCH(QString, setup);
    QFETCH(bool, written);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    auto native = [](const QString &p) { return QFile::encodeName(p); };
    const QString ids = dir.filePath(QStringLiteral("ids.txt"));
    QFile idFile(ids);
    QVERIFY(idFile.open(QIODevice::WriteOnly));
    idFile.write("a\n");
    idFile.close();
    QString out = dir.filePath(QStringLiteral("out.xlsx"));
    QString target = out; // where the table lands when written
    if (setup == QLatin1String("file0600")) {
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    } else if (setup == QLatin1String("symlink")) {
        target = dir.filePath(QStringLiteral("real.xlsx"));
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(QFile::link(target, out));
    } else if (setup == QLatin1String("dangling")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.xlsx")), out));
    } else if (setup == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(native(out).constData(), 0600), 0);
    } else if (setup == QLatin1String("idfile")) {
        out = ids;
    } else if (setup == QLatin1String("hardlink")) {
        QCOMPARE(::link(native(ids).constData(), native(out).constData()), 0);
    } else if (setup == QLatin1String("nofolder")) {
        out = dir.filePath(QStringLiteral("gone/out.xlsx"));
    }
    struct stat before = {};
    const bool existed = ::lstat(native(out).constData(), &before) == 0;

    QString error;
    QString savedTo;
    const bool ok = writeBatchSpreadsheet(out, {makeRow("a", "b")}, &error, {},
                                          programFiles(QString(), QString(), ids), &savedTo);
    qputenv("TMPDIR", oldTmp);
    QCOMPARE(ok, written);
    QFile check(ids);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("a\n"));
    if (written) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(savedTo.isEmpty());
        QCOMPARE(readXlsxSheet(target).cells.value(QStringLiteral("A2")).value,
                 QStringLiteral("a"));
        struct stat after = {};
        QCOMPARE(::lstat(native(out).constData(), &after), 0);
        if (setup == QLatin1String("symlink"))
            QVERIFY(S_ISLNK(after.st_mode));
        const mode_t umaskNow = ::umask(0);
        ::umask(umaskNow);
        struct stat landed = {};
        QCOMPARE(::stat(native(target).constData(), &landed), 0);
        const mode_t expectedMode = setup == QLatin1String("file0600") ? 0600 : 0666 & ~umaskNow;
        QCOMPARE(landed.st_mode & 07777, expectedMode);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                 setup == QLatin1String("symlink") ? 3 : 2);
        return;
    }
    QVERIFY2(error.contains(out) && error.contains(message), qPrintable(error));
    // Whatever stood there is untouched.
    struct stat after = {};
    QCOMPARE(::lstat(native(out).constData(), &after) == 0, existed);
    if (existed) {
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
    }
    // The results are kept all the same, and the message says where.
    QVERIFY(!savedTo.isEmpty());
    QVERIFY2(error.contains(savedTo), qPrintable(error));
    QCOMPARE(QFileInfo(savedTo).absolutePath(), QFileInfo(tmp.path()).absoluteFilePath());
    QCOMPARE(readXlsxSheet(savedTo).cells.value(QStringLiteral("A2")).value, QStringLiteral("a"));
}

void TestExport::tempFilesAreNew()
{
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    QString error;
    const QString first = writeBatchSpreadsheetToTemp({makeRow("a", "b")}, &error);
    const QString second = writeBatchSpreadsheetToTemp({makeRow("c", "d")}, &error);
    qputenv("TMPDIR", oldTmp);
    QVERIFY2(!first.isEmpty() && !second.isEmpty(), qPrintable(error));
    QVERIFY(first != second);
    QCOMPARE(QFileInfo(first).absolutePath(), QFileInfo(tmp.path()).absoluteFilePath());
    QVERIFY(first.endsWith(QLatin1String(".xlsx")));
    QCOMPARE(readXlsxSheet(first).cells.value(QStringLiteral("A2")).value, QStringLiteral("a"));
    QCOMPARE(readXlsxSheet(second).cells.value(QStringLiteral("A2")).value, QStringLiteral("c"));

    qputenv("TMPDIR", QFile::encodeName(tmp.filePath(QStringLiteral("missing"))));
    const QString none = writeBatchSpreadsheetToTemp({}, &error);
    qputenv("TMPDIR", oldTmp);
    QVERIFY(none.isEmpty());
    QVERIFY(!error.isEmpty());
}

// The window's tables pile up in the temporary folder: those older than a day go at start-up;
// nothing else there is touched.
void TestExport::staleTempTablesRemoved()
{
    QTemporaryDir tmp;
    const QDateTime now = QDateTime::currentDateTime();
    auto make = [&](const QString &name, qint64 ageSecs, bool folder = false) {
        const QString path = tmp.filePath(name);
        if (folder) {
            QDir().mkdir(path);
            return;
        }
        {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write("x");
            f.close();
            f.open(QIODevice::ReadWrite);
            f.setFileTime(now.addSecs(-ageSecs), QFileDevice::FileModificationTime);
        }
    };
    make(QStringLiteral("brelvon-Ab3xYz.xlsx"), 2 * 86400);
    make(QStringLiteral("brelvon-Qq1234.xlsx"), 3600);
    make(QStringLiteral("report.xlsx"), 9 * 86400);
    make(QStringLiteral("brelvon-notes.xlsx.bak"), 9 * 86400);
    make(QStringLiteral("brelvon-folder.xlsx"), 2 * 86400, true);
    QCOMPARE(removeStaleBatchTables(tmp.path(), now), 1);
    QStringList left = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.sort();
    QCOMPARE(left, (QStringList{
                       QStringLiteral("brelvon-Qq1234.xlsx"), QStringLiteral("brelvon-folder.xlsx"),
                       QStringLiteral("brelvon-notes.xlsx.bak"), QStringLiteral("report.xlsx")}));
}

QTEST_GUILESS_MAIN(TestExport)
#include "test_export.moc"

// A batch journal holds what was found about buyers: it is the owner's alone, in a folder made
// for it, and a pipe under its name is refused rather than opened (the batch would hang).
void TestExport::journalFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new/out.xlsx.journal"));
    BatchJournal journal;
    QString error;
    QVERIFY2(journal.create(path, {}, {}, &error), qPrintable(error));
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("new"))).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0700));

    const QString pipe = dir.filePath(QStringLiteral("pipe.journal"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    BatchJournal refused;
    QVERIFY(!refused.create(pipe, {}, {}, &error));
    QVERIFY2(error.contains(pipe) && error.contains(QLatin1String("not a regular file")),
             qPrintable(error));
}
