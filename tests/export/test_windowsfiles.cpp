// What Windows adds to the files the user hands us or gets from us: device names that exist in
// every folder, names Windows would silently shorten, and devices opened by name.
#include "files/inputfile.h"
#include "files/outputguard.h"
#include "files/spreadsheetexport.h"

#include <QTemporaryDir>
#include <QtTest>

class TestWindowsFiles : public QObject
{
    Q_OBJECT

private slots:
    void outputNames_data();
    void outputNames();
    void workbookNames_data();
    void workbookNames();
    void inputDevices_data();
    void inputDevices();
};

void TestWindowsFiles::outputNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("writable");
    QTest::newRow("console") << "CON" << false;
    QTest::newRow("null device with extension") << "nul.xlsx" << false;
    QTest::newRow("serial port, any case") << "Com1.csv" << false;
    QTest::newRow("printer port") << "LPT9" << false;
    QTest::newRow("console output") << "CONOUT$" << false;
    QTest::newRow("trailing dot") << "table.xlsx." << false;
    QTest::newRow("trailing space") << "table.xlsx " << false;
    QTest::newRow("device name inside a word") << "console.xlsx" << true;
    QTest::newRow("device name as a prefix") << "nullable.xlsx" << true;
    QTest::newRow("ordinary") << "表格.xlsx" << true;
}

void TestWindowsFiles::outputNames()
{
    QFETCH(QString, name);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    QString reason;
    QCOMPARE(writeOutputFile(path, "bytes", {}, &reason), writable);
    QCOMPARE(reason.isEmpty(), writable);
    if (writable) {
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("bytes"));
    }
}

// The spreadsheet library opens its file through the ANSI code page: a name outside it still
// gets the table, not an empty file and a stray one beside it.
void TestWindowsFiles::workbookNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("ASCII") << ""
                           << "table.xlsx";
    QTest::newRow("Chinese name") << ""
                                  << "买家表格.xlsx";
    QTest::newRow("Chinese folder") << "卖家"
                                    << "table.xlsx";
}

void TestWindowsFiles::workbookNames()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(folder.isEmpty() ? QStringLiteral(".") : folder));
    const QString path = dir.filePath(folder.isEmpty() ? name : folder + u'/' + name);
    QString error;
    QString savedTo;
    QVERIFY2(writeBatchSpreadsheet(path, {}, &error, {}, {}, &savedTo), qPrintable(error));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.read(2), QByteArray("PK"));
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestWindowsFiles::inputDevices_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("notRegular");
    QTest::newRow("null device") << "\\\\.\\NUL" << true;
    QTest::newRow("folder") << QDir::tempPath() << true;
    // Qt opens every name as a file in its folder, so a device name alone is a missing file.
    QTest::newRow("device name") << "NUL" << false;
}

void TestWindowsFiles::inputDevices()
{
    QFETCH(QString, path);
    QFETCH(bool, notRegular);
    QFile file;
    QString reason;
    bool told = false;
    QVERIFY(!openRegularFile(path, &file, &reason, &told));
    QCOMPARE(told, notRegular);
    QVERIFY(!reason.isEmpty());
    QVERIFY(!file.isOpen());
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "test_windowsfiles.moc"
