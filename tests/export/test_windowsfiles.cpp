// What Windows adds to the files the user hands us or gets from us: device names that exist in
// every folder, names Windows would silently shorten or cannot hold, devices opened by name,
// and the Run value that starts the program at login.
#include "files/inputfile.h"
#include "files/outputguard.h"
#include "files/spreadsheetexport.h"
#include "watch/autostart.h"

#include <QSettings>

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
    void forbiddenNameNamesTheTable();
    void startAtLogin();
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
    // A ':' is a stream of another file on NTFS; the others the system refuses.
    QTest::newRow("stream") << "a:b.xlsx" << false;
    for (const char *c : {"?", "*", "|", "\"", "<", ">", "\t", "\x01"})
        QTest::addRow("holds 0x%02x", unsigned(*c))
            << QStringLiteral("a%1b.xlsx").arg(QLatin1String(c)) << false;
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

// The batch's table is checked before anything is written beside it: the message names the
// table as the user would type it.
void TestWindowsFiles::forbiddenNameNamesTheTable()
{
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("a:b.xlsx"));
    QString error;
    QVERIFY(!checkBatchOutput(table, {}, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(table)), qPrintable(error));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// Ticked, the Run value starts the program hidden with its settings file, both paths quoted;
// unticked, it goes. The user's own value is put back afterwards.
void TestWindowsFiles::startAtLogin()
{
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    const QVariant before = run.value(QStringLiteral("Brelvon"));
    QString error;
    QVERIFY2(setStartAtLogin(true, QStringLiteral("C:/Program Files/Brelvon/brelvon.exe"),
                             QStringLiteral("D:/卖家 设置/brelvon.conf"), &error),
             qPrintable(error));
    run.sync();
    QCOMPARE(run.value(QStringLiteral("Brelvon")).toString(),
             QStringLiteral("\"C:\\Program Files\\Brelvon\\brelvon.exe\" --hidden --settings "
                            "\"D:\\卖家 设置\\brelvon.conf\""));
    QVERIFY(autostartEntryExists());
    QVERIFY2(setStartAtLogin(false, QString(), QString(), &error), qPrintable(error));
    QVERIFY(!autostartEntryExists());
    QVERIFY(setStartAtLogin(false, QString(), QString(), &error)); // nothing to remove
    if (before.isValid())
        run.setValue(QStringLiteral("Brelvon"), before);
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "test_windowsfiles.moc"
