// What Windows adds to the files the user hands us or gets from us: device names that exist in
// every folder, names Windows would silently shorten, and devices opened by name.
#include "files/inputfile.h"
#include "files/outputguard.h"

#include <QTemporaryDir>
#include <QtTest>

class TestWindowsFiles : public QObject
{
    Q_OBJECT

private slots:
    void outputNames_data();
    void outputNames();
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

void TestWindowsFiles::inputDevices_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("null device") << "NUL";
    QTest::newRow("folder") << QDir::tempPath();
}

void TestWindowsFiles::inputDevices()
{
    QFETCH(QString, path);
    QFile file;
    QString reason;
    bool notRegular = false;
    QVERIFY(!openRegularFile(path, &file, &reason, &notRegular));
    QVERIFY(notRegular);
    QVERIFY(!reason.isEmpty());
    QVERIFY(!file.isOpen());
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "test_windowsfiles.moc"
