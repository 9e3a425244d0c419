#include "demosite/demosite.h"
#include "engine/batchengine.h"
#include "files/querysettings.h"
#include "lookup/batchfindings.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupsession.h"
#include "model/terminaltext.h"
#include "storage/sellerdatabase.h"
#include "watch/autostart.h"
#include "watch/notifier.h"
#include "watch/orderwatcher.h"
#include "watch/watchedfolder.h"
#include "web/canceltoken.h"
#include "xlsxsheet.h"

#include <QtTest>

Q_DECLARE_METATYPE(BuyerCreditRecord)

namespace {

BuyerCreditRecord found(bool goodCount, bool regTime = true)
{
    BuyerCreditRecord r;
    r.buyerId = QStringLiteral("b");
    r.creditUrl = QStringLiteral("http://x/detail/1.htm");
    r.nick = QStringLiteral("n");
    r.goodCount = goodCount ? QStringLiteral("12") : QString();
    r.regTime = regTime ? QStringLiteral("2008-03-15") : QString();
    return r;
}

// n records, the first `filled` of them with a good count.
QList<BuyerCreditRecord> records(int n, int filled)
{
    QList<BuyerCreditRecord> out;
    for (int i = 0; i < n; ++i)
        out.append(found(i < filled));
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode)
{
    QFile f(path);
    QVERIFY(f.open(mode));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

// A watcher on the demo site, quick to settle.
struct WatchOnDemo
{
    DemoSite site;
    std::unique_ptr<LookupSession> session;
    std::unique_ptr<OrderWatcher> watcher;

    bool start(const QString &folder, QString *error)
    {
        if (!site.start()) {
            *error = QStringLiteral("no demo site");
            return false;
        }
        session = std::make_unique<LookupSession>(demoSettings(site.hostPort()));
        watcher = std::make_unique<OrderWatcher>(*session);
        WatchOptions options;
        options.folder = folder;
        options.settleMs = 300;
        options.pollMs = 50;
        watcher->setOptions(options);
        return watcher->start(error);
    }
};

const QByteArray kOneOrder = "订单编号,买家会员名\r\n1001,xiaoyu_2008\r\n";

class TestWatch : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // A new empty folder under the test's.
    QString freshFolder(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QDir(path).removeRecursively();
        QFile::remove(path);
        if (!QDir().mkpath(path))
            qWarning("cannot make %s", qPrintable(path));
        return path;
    }

private slots:
    void staleFields_data()
    {
        QTest::addColumn<QList<BuyerCreditRecord>>("now");
        QTest::addColumn<QList<BuyerCreditRecord>>("before");
        QTest::addColumn<QStringList>("stale");
        QTest::newRow("went empty")
            << records(12, 0) << records(20, 20) << QStringList{"goodCount"};
        QTest::newRow("80% before, 20% now")
            << records(10, 2) << records(10, 8) << QStringList{"goodCount"};
        QTest::newRow("79% before") << records(12, 0) << records(100, 79) << QStringList{};
        QTest::newRow("30% now") << records(10, 3) << records(10, 10) << QStringList{};
        QTest::newRow("9 found now") << records(9, 0) << records(20, 20) << QStringList{};
        QTest::newRow("no history") << records(12, 0) << records(0, 0) << QStringList{};
        // Buyers not found have empty fields of course: they count neither way.
        QList<BuyerCreditRecord> notFound = records(30, 0);
        for (BuyerCreditRecord &r : notFound)
            r.creditUrl.clear();
        QTest::newRow("not found") << notFound + records(5, 0) << records(20, 20) << QStringList{};
        QList<BuyerCreditRecord> twoFields;
        for (int i = 0; i < 10; ++i)
            twoFields.append(found(false, false));
        QTest::newRow("two fields")
            << twoFields << records(10, 10) << QStringList{"regTime", "goodCount"};
    }
    void staleFields()
    {
        QFETCH(QList<BuyerCreditRecord>, now);
        QFETCH(QList<BuyerCreditRecord>, before);
        QFETCH(QStringList, stale);
        QStringList keys;
        for (const StaleField &f : findStaleFields(now, before))
            keys.append(f.key);
        QCOMPARE(keys, stale);
    }

    // A batch of found buyers whose detail page no longer matches the good-count marker, after a
    // history where it did: the batch says goodCount went empty and names the configuration.
    void batchWithStaleMarker()
    {
        DemoSite site;
        QVERIFY(site.start());
        SellerDatabase db;
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("stale.sqlite"))));
        const QStringList ids(12, QStringLiteral("xiaoyu_2008"));
        CancelToken cancel;
        LookupSession before(demoSettings(site.hostPort()));
        before.useDatabase(&db, true);
        const QList<LookupOutcome> good = before.service().batch(ids, {}, cancel);
        QCOMPARE(good.first().status, LookupStatus::Found);
        QVERIFY(!good.first().result.record.goodCount.isEmpty());
        QVERIFY(staleFieldsOfBatch(good, &db, QDateTime::currentDateTime()).isEmpty());

        LocalSetup local;
        QueryConfig config = before.service().setup()->config;
        config.setEntry(8, QStringLiteral("<td class=\"gone\">"));
        local.config = config;
        local.configPath = m_dir.filePath(QStringLiteral("new-fmj2.htm"));
        LookupSession after(demoSettings(site.hostPort()));
        after.useDatabase(&db, true);
        after.setLocalSetup(local);
        const QDateTime began = QDateTime::currentDateTime().addMSecs(1);
        QTest::qWait(2); // the new batch's lookups are after `began`
        const QList<LookupOutcome> outcomes = after.service().batch(ids, {}, cancel);
        QCOMPARE(outcomes.size(), 12);
        QVERIFY(outcomes.first().result.record.goodCount.isEmpty());
        const QList<StaleField> stale = staleFieldsOfBatch(outcomes, &db, began);
        QCOMPARE(stale.size(), 1);
        QCOMPARE(stale.first().key, QStringLiteral("goodCount"));
        const QString text = staleRulesText(stale, configurationName(after.service()));
        QVERIFY2(text.contains(QStringLiteral("goodCount: empty for 12 of 12 buyers")),
                 qPrintable(text));
        QVERIFY2(text.contains(local.configPath), qPrintable(text));
    }

    // After single lookups: the last 20 against the month before them.
    void recentLookupsGoStale()
    {
        SellerDatabase db;
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("recent.sqlite"))));
        const QDateTime now = QDateTime::currentDateTime();
        const auto add = [&](bool goodCount, const QDateTime &when) {
            BuyerQueryResult r;
            r.record = found(goodCount);
            QVERIFY(db.addLookup(r, when));
        };
        for (int i = 0; i < 15; ++i)
            add(true, now.addDays(-40)); // older than the month: not counted
        RecentLookupsCheck check;
        for (int i = 0; i < 20; ++i)
            add(false, now.addSecs(-600 + i));
        QVERIFY(check.check(&db).isEmpty());
        for (int i = 0; i < 15; ++i)
            add(true, now.addDays(-2));
        const QList<StaleField> stale = RecentLookupsCheck().check(&db);
        QCOMPARE(stale.size(), 1);
        QCOMPARE(stale.first().key, QStringLiteral("goodCount"));
        QCOMPARE(stale.first().foundBefore, 15);
        for (int i = 0; i < 20; ++i)
            add(true, now.addSecs(i)); // the rules read the pages again
        QVERIFY(check.check(&db).isEmpty());
    }

    // The watched folder: an export written in two parts is read once, whole; its table appears
    // beside it, it moves into done/, its blacklisted buyer is 高 and queued for review. Files
    // there before, files of other kinds and the watcher's own tables are left alone; an export
    // it cannot read stays where it is.
    void watchedFolder()
    {
        DemoSite site;
        QVERIFY(site.start());
        SellerDatabase db;
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("watch.sqlite"))));
        BuyerNote note;
        note.buyerId = QStringLiteral("tom.wang");
        note.listed = ListMark::Blacklist;
        note.reason = QStringLiteral("收货后退款");
        QVERIFY(db.saveNote(note));
        LookupSession session(demoSettings(site.hostPort()));
        session.useDatabase(&db, true);

        const QString folder = m_dir.filePath(QStringLiteral("inbox"));
        QVERIFY(QDir().mkpath(folder));
        const QString old = folder + QStringLiteral("/old.csv");
        writeFile(old, "买家会员名\r\nxiaoyu_2008\r\n", QIODevice::WriteOnly);
        writeFile(folder + QStringLiteral("/notes.txt"), "tom.wang\n", QIODevice::WriteOnly);

        OrderWatcher watcher(session);
        WatchOptions options;
        options.folder = folder;
        options.settleMs = 1500;
        options.pollMs = 50;
        watcher.setOptions(options);
        QString error;
        QVERIFY2(watcher.start(&error), qPrintable(error));
        QSignalSpy checked(&watcher, &OrderWatcher::fileChecked);
        QSignalSpy failed(&watcher, &OrderWatcher::fileFailed);

        const QString orders = folder + QStringLiteral("/orders.csv");
        writeFile(orders, "订单编号,买家会员名\r\n1001,xiaoyu_2008\r\n", QIODevice::WriteOnly);
        QTest::qWait(200); // seen half written
        writeFile(orders, "1002,tom.wang\r\n1003,tom.wang\r\n", QIODevice::Append);
        const QString broken = folder + QStringLiteral("/broken.csv");
        writeFile(broken, "编号,金额\r\n1,2\r\n", QIODevice::WriteOnly);

        QTRY_COMPARE_WITH_TIMEOUT(checked.size() + failed.size(), 2, 60000);
        QCOMPARE(checked.size(), 1);
        const CheckedFile file = checked.first().first().value<CheckedFile>();
        QCOMPARE(file.buyers, 2);
        QCOMPARE(file.highRisk.size(), 1);
        QCOMPARE(file.highRisk.first().buyerId, QStringLiteral("tom.wang"));
        QCOMPARE(file.queued, 2);
        QCOMPARE(file.table, folder + QStringLiteral("/orders_检查结果.xlsx"));
        QCOMPARE(readXlsxSheet(file.table).cells.value("A3").value, QStringLiteral("tom.wang"));
        QCOMPARE(file.archivedTo, folder + QStringLiteral("/done/orders.csv"));
        QVERIFY(!QFileInfo::exists(orders));
        QCOMPARE(failed.first().first().toString(), broken);
        QVERIFY(QFileInfo::exists(broken));
        QVERIFY(QFileInfo::exists(old));
        QStringList queued;
        for (const ReviewEntry &e : db.reviewQueue())
            queued.append(e.orderNumber + u' ' + e.buyerId);
        QCOMPARE(queued, QStringList({"1002 tom.wang", "1003 tom.wang"}));

        // The same name again: a table that never replaces the first, an archive likewise.
        writeFile(orders, "订单编号,买家会员名\r\n1004,xiaoyu_2008\r\n", QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(checked.size(), 2, 60000);
        const CheckedFile again = checked.last().first().value<CheckedFile>();
        QCOMPARE(again.table, folder + QStringLiteral("/orders_检查结果(2).xlsx"));
        QCOMPARE(again.archivedTo, folder + QStringLiteral("/done/orders(2).csv"));
        QCOMPARE(failed.size(), 1); // the broken file is not tried again unchanged
        watcher.stop();
    }

    // Exports that arrive together while another batch runs on the service: they wait for it,
    // then go one after the other. A table's name taken while its file is checked is not
    // replaced.
    void filesArrivingTogether()
    {
        DemoSite site;
        QVERIFY(site.start(0, 40));
        LookupSession session(demoSettings(site.hostPort()));
        const QString folder = m_dir.filePath(QStringLiteral("together"));
        QVERIFY(QDir().mkpath(folder));
        OrderWatcher watcher(session);
        WatchOptions options;
        options.folder = folder;
        options.settleMs = 100;
        options.pollMs = 50;
        watcher.setOptions(options);
        QString error;
        QVERIFY2(watcher.start(&error), qPrintable(error));

        QStringList events;
        LookupRunner other(&session.service());
        QVERIFY(other.batch(QStringList(4, QStringLiteral("xiaoyu_2008")), {}, {},
                            [&](const QList<LookupOutcome> &, bool) { events.append("other"); }));
        connect(&watcher, &OrderWatcher::fileStarted, this, [&](const QString &path, int) {
            events.append(QFileInfo(path).fileName());
            if (path.endsWith(QLatin1String("b.csv"))) // its table's name taken meanwhile
                writeFile(folder + QStringLiteral("/b_检查结果.xlsx"), "mine",
                          QIODevice::WriteOnly);
        });
        connect(&watcher, &OrderWatcher::fileChecked, this,
                [&](const CheckedFile &file) { events.append(file.table.section(u'/', -1)); });
        for (const char *name : {"a.csv", "b.csv"})
            writeFile(folder + u'/' + QLatin1String(name),
                      "订单编号,买家会员名\r\n1,xiaoyu_2008\r\n", QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 5, 60000);
        QCOMPARE(events,
                 QStringList({"other", "a.csv", "a_检查结果.xlsx", "b.csv", "b_检查结果(2).xlsx"}));
        QFile mine(folder + QStringLiteral("/b_检查结果.xlsx"));
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("mine"));
        watcher.stop();
    }

    // Batches in a row (the watcher's files): the second keeps to the pause the first left behind,
    // and its own block doubles on from there, on the first one's pacing or on one of its own
    // (the pace is the session's).
    void pacingCarriesOver_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<int>("firstPause");
        QTest::newRow("shared") << true << 2;
        QTest::newRow("own") << false << 2;
    }
    void pacingCarriesOver()
    {
        QFETCH(bool, shared);
        QFETCH(int, firstPause);
        DemoSite site;
        QVERIFY(site.start());
        site.setBlockAfter(1); // every marketplace page
        QuerySettings settings = demoSettings(site.hostPort());
        settings.blockedPauseSec = 1;
        LookupSession session(settings);
        BatchOptions options;
        options.maxTries = 1;
        options.pacing = session.service().makePacing(options);
        QList<int> pauses;
        const auto run = [&] {
            CancelToken cancel;
            LookupService::BatchProgress progress;
            progress.paused = [&](int seconds, const QString &) {
                pauses.append(seconds);
                cancel.cancel(); // ended in its first pause
            };
            session.service().batch({QStringLiteral("xiaoyu_2008")}, options, cancel, progress);
        };
        run();
        if (!shared)
            options.pacing.reset();
        const qint64 before = site.marketplaceRequests();
        run();
        QCOMPARE(pauses, QList<int>({1, firstPause}));
        QCOMPARE(site.marketplaceRequests(), before + 1);
    }

    // "登录时启动（隐藏）": the XDG autostart entry starts the program hidden with its settings
    // file, however its path is spelled; turned off, the entry goes.
    void autostartEntry()
    {
        if (autostartEntryPath().isEmpty())
            QSKIP("the entry is no desktop file here (test_windowsfiles checks the Run value)");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
        const QString program = QStringLiteral("/opt/my apps/brelvon");
        const QString settings = QStringLiteral("/home/x/100%\"ok\".conf");
        QString error;
        QVERIFY2(setStartAtLogin(true, program, settings, &error), qPrintable(error));
        const QString path = autostartEntryPath();
        QVERIFY(path.startsWith(m_dir.path()));
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY2(text.contains(QStringLiteral("\nExec=\"/opt/my apps/brelvon\" --hidden --settings "
                                              "\"/home/x/100%%\\\\\"ok\\\\\".conf\"\n")),
                 qPrintable(text));
        QVERIFY(setStartAtLogin(false, program, settings, &error));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(setStartAtLogin(false, program, settings, &error)); // nothing to remove

        // A line break in a path is refused with a message; a link at the entry's name is
        // replaced, its target untouched.
        QVERIFY(!setStartAtLogin(true, program, QStringLiteral("/x\nExec=/bin/evil"), &error));
        QVERIFY2(error.contains(QStringLiteral("\\x0A")), qPrintable(error));
        QVERIFY(!QFileInfo::exists(path));
        const QString target = m_dir.filePath(QStringLiteral("victim"));
        writeFile(target, "mine", QIODevice::WriteOnly);
        QVERIFY(QFile::link(target, path));
        QVERIFY2(setStartAtLogin(true, program, settings, &error), qPrintable(error));
        QVERIFY(!QFileInfo(path).isSymLink());
        QFile victim(target);
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("mine"));
    }

    // done/ that is a file, or a link to a folder elsewhere: the export stays, checked once, the
    // reason said once, and nothing lands outside the watched folder.
    void archiveStaysInside_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("done is a file") << false;
        QTest::newRow("done links outside") << true;
    }
    void archiveStaysInside()
    {
        QFETCH(bool, link);
        const QString folder = freshFolder(QStringLiteral("inside"));
        const QString outside = freshFolder(QStringLiteral("elsewhere"));
        if (link)
            QVERIFY(QFile::link(outside, folder + QStringLiteral("/done")));
        else
            writeFile(folder + QStringLiteral("/done"), "", QIODevice::WriteOnly);
        WatchOnDemo watch;
        QString error;
        QVERIFY2(watch.start(folder, &error), qPrintable(error));
        QSignalSpy checked(watch.watcher.get(), &OrderWatcher::fileChecked);
        writeFile(folder + QStringLiteral("/orders.csv"), kOneOrder, QIODevice::WriteOnly);
        writeFile(folder + QStringLiteral("/more.csv"), kOneOrder, QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(checked.size(), 2, 30000);
        QTest::qWait(1000); // polls enough to take a file again
        QCOMPARE(checked.size(), 2);
        const CheckedFile first = checked.first().first().value<CheckedFile>();
        const CheckedFile second = checked.last().first().value<CheckedFile>();
        QVERIFY(first.archivedTo.isEmpty() && second.archivedTo.isEmpty());
        QVERIFY2(first.problem.contains(QStringLiteral("done")), qPrintable(first.problem));
        QVERIFY(second.problem.isEmpty()); // said once
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/orders.csv")));
        QVERIFY(QDir(outside).isEmpty());
    }

    // A link in the folder is refused and named with the reason, never read; an export written
    // on while it is checked is checked again, whole, rather than archived.
    void linksRefusedChangesCheckedAgain()
    {
        const QString folder = freshFolder(QStringLiteral("changes"));
        const QString secret = freshFolder(QStringLiteral("private")) + QStringLiteral("/p.csv");
        writeFile(secret, "买家会员名\r\nsecret_buyer\r\n", QIODevice::WriteOnly);
        WatchOnDemo watch;
        QString error;
        QVERIFY2(watch.start(folder, &error), qPrintable(error));
        QSignalSpy checked(watch.watcher.get(), &OrderWatcher::fileChecked);
        QSignalSpy failed(watch.watcher.get(), &OrderWatcher::fileFailed);
        QVERIFY(QFile::link(secret, folder + QStringLiteral("/a.csv")));
        const QString orders = folder + QStringLiteral("/orders.csv");
        connect(watch.watcher.get(), &OrderWatcher::fileStarted, this,
                [&](const QString &path, int) {
                    if (path == orders && checked.isEmpty())
                        writeFile(orders, "1002,tom.wang\r\n", QIODevice::Append);
                });
        writeFile(orders, kOneOrder, QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(checked.size(), 2, 30000);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), folder + QStringLiteral("/a.csv"));
        const QString why = failed.first().last().toString();
        QVERIFY2(why.contains(QStringLiteral("symbolic link")) && !why.contains("secret_buyer"),
                 qPrintable(why));
        const CheckedFile first = checked.first().first().value<CheckedFile>();
        QVERIFY(first.archivedTo.isEmpty());
        QVERIFY2(first.problem.contains(QStringLiteral("changed")), qPrintable(first.problem));
        const CheckedFile again = checked.last().first().value<CheckedFile>();
        QCOMPARE(again.buyers, 2);
        QCOMPARE(again.archivedTo, folder + QStringLiteral("/done/orders.csv"));
    }

    // The watched folder removed is said; a link put in its place is not followed; made again,
    // its files from before the watch began are old, a new one is checked.
    void folderGoesAndComesBack()
    {
        const QString folder = freshFolder(QStringLiteral("comesback"));
        const QString other = freshFolder(QStringLiteral("other"));
        writeFile(other + QStringLiteral("/private.csv"), kOneOrder, QIODevice::WriteOnly);
        WatchOnDemo watch;
        QString error;
        QVERIFY2(watch.start(folder, &error), qPrintable(error));
        QSignalSpy changed(watch.watcher.get(), &OrderWatcher::folderChanged);
        QSignalSpy started(watch.watcher.get(), &OrderWatcher::fileStarted);
        QVERIFY(QDir(folder).removeRecursively());
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed.first().first().toBool(), false);
        QVERIFY(!watch.watcher->isFolderAvailable());
        QVERIFY(QFile::link(other, folder));
        QTest::qWait(800);
        QCOMPARE(changed.size(), 1); // a link is no folder coming back
        QVERIFY(QFile::remove(folder));

        QVERIFY(QDir().mkpath(folder));
        const QString old = folder + QStringLiteral("/old.csv");
        writeFile(old, kOneOrder, QIODevice::WriteOnly);
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::ReadWrite));
        QVERIFY(oldFile.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                    QFileDevice::FileModificationTime));
        oldFile.close();
        writeFile(folder + QStringLiteral("/new.csv"), kOneOrder, QIODevice::WriteOnly);
        QTRY_COMPARE(changed.size(), 2);
        QCOMPARE(changed.last().first().toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, 30000);
        QTest::qWait(800);
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().first().toString(), folder + QStringLiteral("/new.csv"));
    }

    // What a folder holds when the watch starts is old, unless all is asked for; a file made
    // after is new.
    void filesThereAtStart_data()
    {
        QTest::addColumn<bool>("all");
        QTest::addColumn<QStringList>("ready");
        QTest::newRow("new files only") << false << QStringList{"new.csv"};
        QTest::newRow("--all") << true << QStringList{"old.csv", "new.csv"};
    }
    void filesThereAtStart()
    {
        QFETCH(bool, all);
        QFETCH(QStringList, ready);
        const QString folder = freshFolder(QStringLiteral("start"));
        writeFile(folder + QStringLiteral("/old.csv"), kOneOrder, QIODevice::WriteOnly);
        WatchedFolder watched;
        QString error;
        QVERIFY2(watched.open(folder, all, &error), qPrintable(error));
        const auto isExport = [](const QString &name) { return name.endsWith(u".csv"); };
        QVERIFY(watched.look(1000, 100, isExport).ready ==
                (all ? QStringList{"old.csv"} : QStringList{}));
        writeFile(folder + QStringLiteral("/new.csv"), kOneOrder, QIODevice::WriteOnly);
        QCOMPARE(watched.look(2000, 100, isExport).ready.size(), all ? 1 : 0); // settling
        QStringList got = watched.look(2200, 100, isExport).ready;
        QCOMPARE(got, ready);
    }

    // One watcher per folder: the second names the holder; the first's lock goes when it stops,
    // and a lock left by a process that is gone is taken over.
    void oneWatcherPerFolder()
    {
        const QString folder = freshFolder(QStringLiteral("locked"));
        WatchOnDemo first;
        WatchOnDemo second;
        QString error;
        QVERIFY2(first.start(folder, &error), qPrintable(error));
        QVERIFY(!second.start(folder, &error));
        QVERIFY2(error.contains(QString::number(QCoreApplication::applicationPid())),
                 qPrintable(error));
        const QString lockPath = m_dir.filePath(QStringLiteral(".locked.brelvon-watch.lock"));
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QByteArray held = lock.readAll();
        lock.close();
        first.watcher->stop();
        QVERIFY(!QFileInfo::exists(lockPath));

        // As a crashed watcher leaves it: its process gone.
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        held.replace(0, held.indexOf('\n'), QByteArray::number(pid));
        writeFile(lockPath, held, QIODevice::WriteOnly);
        QVERIFY2(second.watcher->start(&error), qPrintable(error));
    }

    // Notification bodies: plain text escaped for the markup the desktop renders, outside texts
    // cut, the whole bounded; counts right whatever the export's name holds.
    void notificationText_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("reason");
        QTest::newRow("markup") << "<a href=\"http://x\">b</a>"
                                << "<img src=\"file:///etc/passwd\"> & more";
        QTest::newRow("long reason") << "tom" << QString(20000, u'r');
        QTest::newRow("long id") << QString(5000, u'i') << "r";
        QTest::newRow("control characters") << "a\x1b[31m"
                                            << "b\x07\x01";
    }
    void notificationText()
    {
        QFETCH(QString, id);
        QFETCH(QString, reason);
        QString said;
        Notifier notifier;
        notifier.setDelivery([&](const QString &, const QString &body) { said = body; });
        notifier.notify(Notifier::Kind::HighRisk, highRiskNotice(id, {reason, reason}));
        QVERIFY(said.size() <= Notifier::kBodyChars);
        QVERIFY(said.size() <= Notifier::kNameChars + 2 * Notifier::kTextChars + 20);
        const QString markup = Notifier::bodyMarkup(said);
        QVERIFY2(!markup.contains(u'<') && !markup.contains(u'>') && !markup.contains(u'\x1b') &&
                     !markup.contains(u'\x01'),
                 qPrintable(markup));
        QCOMPARE(Notifier::bodyMarkup(QStringLiteral("a&b")), QStringLiteral("a&amp;b"));

        CheckedFile file;
        file.buyers = 7;
        file.highRisk.resize(2);
        QCOMPARE(file.summary(QStringLiteral("%1%2%3")),
                 QStringLiteral("order file %1%2%3 checked: 7 buyers, 2 high risk"));
    }

    // A name from outside on a terminal: nothing in it drives the terminal or forges a line.
    void terminalEscapes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("title sequence") << "a\x1b]0;t\x07.csv"
                                        << "a\\x1B]0;t\\x07.csv";
        QTest::newRow("forged line") << "a\nbrelvon-cli: ok"
                                     << "a\\x0Abrelvon-cli: ok";
        QTest::newRow("C1 and tab") << QStringLiteral("a\u009B\tb") << "a\\x9B\\x09b";
        QTest::newRow("direction") << QStringLiteral("a\u202Egpj.csv") << "a\\u{202E}gpj.csv";
        QTest::newRow("chinese") << "订单%1.csv"
                                 << "订单%1.csv";
    }
    void terminalEscapes()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(escapeControls(name, LineFeeds::Escape), shown);
    }

    // At most one notification a minute per kind; what comes meanwhile is said together after.
    void notificationsAreSpaced()
    {
        Notifier notifier;
        QStringList said;
        notifier.setDelivery(
            [&](const QString &title, const QString &body) { said.append(title + u'|' + body); });
        notifier.setInterval(300);
        notifier.notify(Notifier::Kind::HighRisk, QStringLiteral("a"));
        notifier.notify(Notifier::Kind::HighRisk, QStringLiteral("b"));
        notifier.notify(Notifier::Kind::HighRisk, QStringLiteral("c"));
        notifier.notify(Notifier::Kind::FileChecked, QStringLiteral("file"));
        QCOMPARE(said.size(), 2); // one of each kind at once
        QTRY_COMPARE(said.size(), 3);
        QCOMPARE(said.last(), QStringLiteral("High-risk buyer|2 more:\nb\nc"));
        notifier.setEnabled(false);
        notifier.notify(Notifier::Kind::StaleRules, QStringLiteral("x"));
        QCOMPARE(said.size(), 3);
    }

    // A checked file makes one notification, however many 高 buyers it has: a tray shows one
    // message at a time, so a second sent with it would hide the first.
    void oneNotificationPerFile_data()
    {
        QTest::addColumn<int>("flagged");
        QTest::addColumn<QString>("said");
        const QString summary = QStringLiteral("order file a.csv checked: 9 buyers, %1 high risk");
        QTest::newRow("none") << 0 << QStringLiteral("Order file checked|") + summary.arg(0);
        QTest::newRow("two") << 2
                             << QStringLiteral("High-risk buyer|high risk: b0 (r)\nhigh risk: b1 "
                                               "(r)\n") +
                                    summary.arg(2);
        QTest::newRow("more than listed")
            << 7
            << QStringLiteral("High-risk buyer|high risk: b0 (r)\nhigh risk: b1 (r)\nhigh risk: b2 "
                              "(r)\nhigh risk: b3 (r)\nhigh risk: b4 (r)\n…\n") +
                   summary.arg(7);
    }
    void oneNotificationPerFile()
    {
        QFETCH(int, flagged);
        QFETCH(QString, said);
        Notifier notifier;
        QStringList told;
        notifier.setDelivery(
            [&](const QString &title, const QString &body) { told.append(title + u'|' + body); });
        CheckedFile file;
        file.exportPath = QStringLiteral("/in/a.csv");
        file.buyers = 9;
        for (int i = 0; i < flagged; ++i)
            file.highRisk.append({QStringLiteral("b%1").arg(i), {QStringLiteral("r")}, {}});
        notifyFileChecked(&notifier, file);
        QCOMPARE(told, QStringList{said});
    }
};

QTEST_GUILESS_MAIN(TestWatch)

#include "test_watch.moc"
