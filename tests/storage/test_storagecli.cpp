#include "storage/sellerdatabase.h"
#include "web/codepage936.h"
#include "xlsxsheet.h"

#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

QProcess *startCli(const QStringList &args, const QString &home)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    process->setProcessEnvironment(env);
    process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/brelvon-cli"), args);
    return process;
}

CliRun finish(QProcess *process)
{
    CliRun run;
    if (process->waitForFinished(120000) && process->exitStatus() == QProcess::NormalExit)
        run.exitCode = process->exitCode();
    run.out = process->readAllStandardOutput();
    run.err = QString::fromUtf8(process->readAllStandardError());
    delete process;
    return run;
}

} // namespace

class TestStorageCli : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    CliRun cli(const QStringList &args) { return finish(startCli(args, m_dir.path())); }
    QString db(const QString &name) const { return m_dir.filePath(name); }
    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName()
                                                                                  : QString();
    }

private slots:
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("json and csv")
            << QStringList{"history", "--json", "--csv"} << "cannot be used together";
        QTest::newRow("since garbage")
            << QStringList{"history", "--since", "last week"} << "--since takes one date";
        QTest::newRow("note without text")
            << QStringList{"note", "add", "tom"} << "takes an id and a text";
        QTest::newRow("blank note") << QStringList{"note", "add", "tom", " "} << "blank";
        QTest::newRow("both marks")
            << QStringList{"note", "add", "--blacklist", "--trusted", "tom", "x"}
            << "cannot be used together";
        QTest::newRow("unknown note action")
            << QStringList{"note", "edit"} << "unknown note action";
        QTest::newRow("blacklist without file")
            << QStringList{"blacklist", "import"} << "takes one file";
        QTest::newRow("database twice")
            << QStringList{"query", "--demo", "--database", "a", "--database=b", "x"}
            << "--database given twice";
        QTest::newRow("database without name")
            << QStringList{"note", "list", "--database"} << "--database needs a file name";
        QTest::newRow("review done without order")
            << QStringList{"review", "done"} << "review done takes an order number";
        QTest::newRow("review action") << QStringList{"review", "later"} << "unknown review action";
        QTest::newRow("watch two folders")
            << QStringList{"watch", "--demo", "a", "b"} << "give at most one folder";
        QTest::newRow("watch missing folder")
            << QStringList{"watch", "--demo", "/nonexistent/inbox"} << "is not there";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CliRun run = cli(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    // Notes and marks show in the lookup's JSON and on stderr; the lookups land in the history.
    void queryKeepsHistoryAndWarns()
    {
        const QString file = db(QStringLiteral("query.sqlite"));
        QCOMPARE(cli({"note", "add", "--database", file, "--blacklist", "tom.wang", "收货后退款"})
                     .exitCode,
                 0);
        QCOMPARE(cli({"note", "add", "--database", file, "xiaoyu_2008", "常客"}).exitCode, 0);
        CliRun run = cli({"query", "--demo", "--database", file, "xiaoyu_2008", "tom.wang"});
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("{\"buyerId\":\"xiaoyu_2008\",\"nick\":\"小宇\""),
                 lines[0].constData());
        QVERIFY2(lines[0].endsWith(
                     QStringLiteral(",\"note\":\"常客\",\"listed\":\"\",\"lookup\":\"found\"}")
                         .toUtf8()),
                 lines[0].constData());
        QVERIFY2(lines[1].endsWith(
                     QStringLiteral(
                         ",\"note\":\"收货后退款\",\"listed\":\"blacklist\",\"lookup\":\"found\"}")
                         .toUtf8()),
                 lines[1].constData());
        QVERIFY2(
            run.err.contains(QStringLiteral("warning: tom.wang is on the blacklist: 收货后退款")),
            qPrintable(run.err));

        QCOMPARE(cli({"query", "--demo", "--no-history", "--database", file, "tom.wang"}).exitCode,
                 0);
        run = cli({"history", "--database", file, "--json"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.count('\n'), 2); // --no-history recorded nothing
        QVERIFY2(run.out.startsWith("{\"time\":\"" +
                                    QDate::currentDate().toString(Qt::ISODate).toUtf8()),
                 run.out.constData());
        QVERIFY(run.out.contains("\"pages\":[{\"outcome\":\"ok\",\"status\":200,"));
        run = cli({"history", "--database", file, "--since", "2000-01-01", "--csv", "tom.wang"});
        QVERIFY(run.out.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(run.out.count('\n'), 2);
    }

    // A batch of an order export queues the orders of its 高 buyers; review lists them until
    // each is marked handled.
    void reviewQueueFromOrderBatch()
    {
        const QString file = db(QStringLiteral("review.sqlite"));
        QCOMPARE(cli({"note", "add", "--database", file, "--blacklist", "tom.wang", "收货后退款"})
                     .exitCode,
                 0);
        const QString orders =
            writeFile(QStringLiteral("orders.csv"),
                      QStringLiteral("订单编号,买家会员名\r\n1001,xiaoyu_2008\r\n1002,tom.wang\r\n")
                          .toUtf8());
        CliRun run = cli({"batch", "--demo", "--database", file, orders, "--xlsx",
                          db(QStringLiteral("orders.xlsx"))});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("1 order(s) of high-risk buyers wait for review"),
                 qPrintable(run.err));
        run = cli({"review", "--json", "--database", file});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(QStringLiteral("{\"order\":\"1002\",\"buyerId\":\"tom.wang\","
                                                   "\"reasons\":[\"在黑名单中：收货后退款\"")
                                        .toUtf8()),
                 run.out.constData());
        QCOMPARE(run.out.count('\n'), 1);
        QCOMPARE(cli({"review", "done", "--database", file, "1002", "电话确认"}).exitCode, 0);
        QCOMPARE(cli({"review", "done", "--database", file, "1002"}).exitCode, 1);
        QCOMPARE(cli({"review", "--database", file}).out, QByteArray());
        run = cli({"review", "--all", "--database", file});
        QVERIFY2(run.out.endsWith(QStringLiteral("\t电话确认\n").toUtf8()), run.out.constData());
    }

    // A batch of 101 ids with 6 in flight stores 101 lookups, and two programs doing so at once
    // lose none.
    void batchesStoreEveryLookup()
    {
        const QString file = db(QStringLiteral("batch.sqlite"));
        QStringList ids;
        for (int i = 0; i < 101; ++i)
            ids.append(QStringLiteral("buyer%1").arg(i));
        const QString idFile = writeFile(QStringLiteral("ids.txt"), ids.join(u'\n').toUtf8());
        QCOMPARE(cli({"note", "add", "--database", file, "--blacklist", "buyer7", "拒收"}).exitCode,
                 0);
        QList<QProcess *> running;
        for (const char *out : {"a.xlsx", "b.xlsx"})
            running.append(startCli({"batch", "--demo", "--jobs", "6", "--database", file, idFile,
                                     "--extra-columns", "--xlsx", db(QLatin1String(out))},
                                    m_dir.path()));
        for (QProcess *p : running) {
            const CliRun run = finish(p);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY(run.err.contains(QStringLiteral("warning: buyer7 is on the blacklist: 拒收")));
        }
        SellerDatabase database;
        QVERIFY(database.open(file));
        QCOMPARE(database.lookupCount(), qint64(202));
        HistoryFilter one;
        one.buyerIds = QStringList{QStringLiteral("buyer100")};
        QCOMPARE(database.history(one).size(), 2);

        // The blacklisted buyer's row is marked in the table.
        const XlsxSheet sheet = readXlsxSheet(db(QStringLiteral("a.xlsx")));
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.cells.value(QStringLiteral("A9")).value, QStringLiteral("buyer7"));
        QVERIFY(sheet.cells.value(QStringLiteral("A9")).style !=
                sheet.cells.value(QStringLiteral("A8")).style);
        QCOMPARE(sheet.cells.value(QStringLiteral("O9")).value, QStringLiteral("高")); // risk
        QCOMPARE(sheet.cells.value(QStringLiteral("R9")).value, QStringLiteral("黑名单：拒收"));
    }

    void blacklistImportExport()
    {
        const QString file = db(QStringLiteral("list.sqlite"));
        QCOMPARE(cli({"note", "add", "--database", file, "--trusted", "friend", "老朋友"}).exitCode,
                 0);
        const QString csv =
            writeFile(QStringLiteral("list.csv"),
                      QByteArray("id,reason,date\r\n") +
                          encode936(u"快乐的小猫,\"恶意差评, 勒索\",2026-11-02\r\n\r\nfriend,x,\n"
                                    u",no id,\n快乐的小猫,改过的理由,2026-11-03\r\n"));
        CliRun run = cli({"blacklist", "import", "--database", file, csv});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QStringLiteral("1 added, 0 updated, 0 unchanged, 2 refused")),
                 qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("friend is marked trusted")));

        run = cli({"blacklist", "export", "--database", file, "-"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(
            run.out,
            "\xEF\xBB\xBF" +
                QStringLiteral("id,reason,date\r\n快乐的小猫,改过的理由,2026-11-03\r\n").toUtf8());
        run = cli({"note", "list", "--database", file});
        QCOMPARE(QString::fromUtf8(run.out).count(u'\n'), 2);
        QCOMPARE(cli({"note", "remove", "--database", file, "friend"}).exitCode, 0);
        QCOMPARE(cli({"note", "remove", "--database", file, "friend"}).exitCode, 1);
    }

    // Neither export writes over anything but a file of the user's: never a folder, device,
    // pipe, dangling link, nor the program's own files under any name.
    void exportsKeepToUserFiles_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason"); // "": written
        for (const char *command : {"blacklist", "batch"}) {
            const auto row = [&](const char *tag, const char *target, const char *reason) {
                QTest::addRow("%s: %s", command, tag) << command << target << reason;
            };
            row("folder", "config", "it is a folder");
            row("fifo", "guard.fifo", "not a regular file");
            row("dangling link", "dangling", "link to a missing file");
            row("database", "guard.sqlite", "it is the seller's database");
            row("database journal", "guard.sqlite-wal", "it is the seller's database");
            row("link to the database", "dblink", "it is the seller's database");
            row("hard link to the database", "dbhard", "it is the seller's database");
            row("settings", "config/Brelvon/brelvon.conf", "it is the settings file");
            row("regular file", "out.bin", "");
        }
        QTest::newRow("batch: id file") << "batch"
                                        << "ids.txt"
                                        << "it is the id file";
    }
    void exportsKeepToUserFiles()
    {
        QFETCH(QString, command);
        QFETCH(QString, target);
        QFETCH(QString, reason);
        const QString base = db(QStringLiteral("guard.sqlite"));
        if (!QFileInfo::exists(base)) {
            QCOMPARE(cli({"note", "add", "--database", base, "--blacklist", "tom", "x"}).exitCode,
                     0);
            QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("config/Brelvon")));
            QVERIFY(
                !writeFile(QStringLiteral("config/Brelvon/brelvon.conf"), "; mine\n").isEmpty());
            QVERIFY(!writeFile(QStringLiteral("ids.txt"), "tom.wang\n").isEmpty());
            QCOMPARE(::mkfifo(QFile::encodeName(db(QStringLiteral("guard.fifo"))), 0600), 0);
            QVERIFY(QFile::link(db(QStringLiteral("gone")), db(QStringLiteral("dangling"))));
            QVERIFY(QFile::link(base, db(QStringLiteral("dblink"))));
            QCOMPARE(::link(QFile::encodeName(base), QFile::encodeName(db("dbhard"))), 0);
        }
        const QString path = db(target);
        QVERIFY(!writeFile(QStringLiteral("out.bin"), "old").isEmpty());
        QVERIFY(QFile::setPermissions(db(QStringLiteral("out.bin")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QFileInfo before(path);
        QFile file(path);
        const QByteArray content =
            before.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        const CliRun run =
            command == QLatin1String("blacklist")
                ? cli({"blacklist", "export", "--database", base, path})
                : cli({"batch", "--demo", "--database", base, db("ids.txt"), "--xlsx", path});
        if (reason.isEmpty()) {
            QCOMPARE(run.exitCode, 0);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll() != content);
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0640));
            return;
        }
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        if (before.isFile()) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
        QVERIFY(QFileInfo(db(QStringLiteral("dangling"))).isSymLink());
        QCOMPARE(cli({"note", "list", "--database", base}).out.count('\n'), 1);
    }

    // A pipe given as the file to read is refused at once, never waited on.
    void pipesAreNotRead_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("batch id file") << QStringList{"batch", "--demo", "--xlsx", db("out.xlsx")};
        QTest::newRow("blacklist import") << QStringList{"blacklist", "import"};
    }
    void pipesAreNotRead()
    {
        QFETCH(QStringList, args);
        const QString fifo = db(QStringLiteral("in-%1.fifo").arg(QTest::currentDataTag()));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo), 0600), 0);
        std::unique_ptr<QProcess> process(
            startCli(args + QStringList{"--database", db("pipes.sqlite"), fifo}, m_dir.path()));
        const bool ended = process->waitForFinished(20000);
        if (!ended)
            process->kill();
        QVERIFY(ended);
        QCOMPARE(process->exitCode(), 2);
        QVERIFY(process->readAllStandardError().contains("not a regular file"));
    }

    // An imported reason is shown, never run by the terminal.
    void tableOutputEscapesControls()
    {
        const QString file = db(QStringLiteral("escapes.sqlite"));
        const QString csv = writeFile(QStringLiteral("escapes.csv"),
                                      "id,reason\n=cmd,\x1b]0;title\x07 \xc2\x9b\\\n");
        QCOMPARE(cli({"blacklist", "import", "--database", file, csv}).exitCode, 0);
        const CliRun run = cli({"note", "list", "--database", file});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith("=cmd\tblacklist\t\\x1B]0;title\\x07 \\x9B\\\\\t"),
                 run.out.constData());
    }

    // The demo's made-up buyers stay out of the seller's own history.
    void demoKeepsItsOwnDatabase()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QCOMPARE(finish(startCli({"query", "--demo", "xiaoyu_2008"}, home.path())).exitCode, 0);
        const QString folder = home.filePath(QStringLiteral("data/Brelvon/"));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("brelvon.sqlite")));
        SellerDatabase demo;
        QVERIFY(demo.open(folder + QStringLiteral("demo.sqlite"),
                          SellerDatabase::OpenMode::ExistingOnly));
        QCOMPARE(demo.lookupCount(), 1);
    }

    // A database that cannot be used never stops a lookup, and is never lost.
    void badDatabaseKeepsLookupsWorking_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("readOnlyFolder"); // a backup mounted read-only, say
        QTest::addColumn<QString>("message");
        QTest::newRow("corrupt") << QByteArray("SQLite format 3\0garbled", 24) << false << false
                                 << "moved to";
        QTest::newRow("read-only") << QByteArray() << true << false << "read-only";
        QTest::newRow("read-only folder") << QByteArray() << true << true << "read-only";
    }
    void badDatabaseKeepsLookupsWorking()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readOnly);
        QFETCH(bool, readOnlyFolder);
        QFETCH(QString, message);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        QVERIFY(QDir(m_dir.path()).mkpath(tag));
        const QString folder = db(tag);
        const QString file = folder + QStringLiteral("/bad.sqlite");
        const auto folderPermissions = QFile::permissions(folder);
        if (readOnly) {
            QCOMPARE(cli({"note", "add", "--database", file, "--blacklist", "tom.wang", "拒收"})
                         .exitCode,
                     0);
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            if (readOnlyFolder)
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        } else {
            QVERIFY(!writeFile(tag + QStringLiteral("/bad.sqlite"), content).isEmpty());
        }
        const QStringList before = QDir(folder).entryList(QDir::Files);
        const CliRun run = cli({"query", "--demo", "--database", file, "tom.wang"});
        QFile::setPermissions(folder, folderPermissions);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("{\"buyerId\":\"tom.wang\""));
        QVERIFY2(run.err.contains(QStringLiteral("history is off")) && run.err.contains(message),
                 qPrintable(run.err));
        if (readOnly) { // the blacklist still warns
            QVERIFY2(run.err.contains(QStringLiteral("on the blacklist: 拒收")),
                     qPrintable(run.err));
            QVERIFY(run.out.contains("\"listed\":\"blacklist\""));
            if (readOnlyFolder) // and nothing was made in the folder
                QCOMPARE(QDir(folder).entryList(QDir::Files), before);
        } else {
            QVERIFY(QFileInfo::exists(
                QString(run.err).section(QStringLiteral("moved to "), 1).section(u',', 0, 0)));
        }
    }
};

QTEST_GUILESS_MAIN(TestStorageCli)
#include "test_storagecli.moc"
