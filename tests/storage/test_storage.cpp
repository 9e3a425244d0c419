#include "files/blacklistcsv.h"
#include "files/historycsv.h"
#include "fixtures.h"
#include "model/ordernumber.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"
#include "web/codepage936.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

BuyerQueryResult lookupOf(const QString &id, const QString &goodCount = QStringLiteral("120"))
{
    BuyerQueryResult r;
    r.record.buyerId = id;
    r.record.nick = QStringLiteral("小鱼");
    r.record.goodCount = goodCount;
    r.record.badGiven = QStringLiteral("0");
    PageResult page;
    page.address = QStringLiteral("http://127.0.0.1/search?q=") + id;
    page.outcome = PageOutcome::Timeout;
    page.attempts = 2;
    r.pages.append(page);
    return r;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// Runs SQL on a file without the program's own code, as an older version or another program
// would have left it.
void rawSql(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

// The layout of the first version: the twelve fields, nothing else.
const QStringList kVersion1 = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "INSERT INTO schema_version VALUES (1)",
    "CREATE TABLE lookups (id INTEGER PRIMARY KEY, looked_up_at INTEGER NOT NULL, buyer_id TEXT "
    "NOT NULL, nick TEXT NOT NULL DEFAULT '', reg_time TEXT NOT NULL DEFAULT '', address TEXT NOT "
    "NULL DEFAULT '', verification TEXT NOT NULL DEFAULT '', good_rate TEXT NOT NULL DEFAULT '', "
    "good_count TEXT NOT NULL DEFAULT '', neutral_count TEXT NOT NULL DEFAULT '', bad_count TEXT "
    "NOT NULL DEFAULT '', neutral_given TEXT NOT NULL DEFAULT '', bad_given TEXT NOT NULL DEFAULT "
    "'', credit_url TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX lookups_by_buyer ON lookups (buyer_id, looked_up_at)",
    "INSERT INTO lookups (looked_up_at, buyer_id, good_count) VALUES (1700000000000, 'old', '7')",
};

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_files = 0;

    QString freshPath()
    {
        return m_dir.filePath(QStringLiteral("db%1/brelvon.sqlite").arg(++m_files));
    }

private slots:
    void migrations_data()
    {
        QTest::addColumn<QStringList>("before"); // empty: no file at all
        QTest::addColumn<qint64>("keptLookups");
        QTest::newRow("no file") << QStringList{} << qint64(0);
        QTest::newRow("empty file") << QStringList{"VACUUM"} << qint64(0);
        QTest::newRow("version 1") << kVersion1 << qint64(1);
    }
    void migrations()
    {
        QFETCH(QStringList, before);
        QFETCH(qint64, keptLookups);
        const QString path = freshPath();
        if (!before.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            rawSql(path, before);
        }
        {
            SellerDatabase db;
            QVERIFY2(db.open(path), qPrintable(db.problem()));
            QCOMPARE(db.state(), SellerDatabase::State::Ready);
            QCOMPARE(db.lookupCount(), keptLookups);
            QVERIFY2(db.addLookup(lookupOf(QStringLiteral("new"))), qPrintable(db.problem()));
            BuyerNote note;
            note.buyerId = QStringLiteral("new");
            note.note = QStringLiteral("退款后不发货");
            QVERIFY(db.saveNote(note));
            if (keptLookups) {
                const auto old = db.lastLookup(QStringLiteral("old"));
                QVERIFY(old);
                QCOMPARE(old->record.goodCount, QStringLiteral("7"));
                QCOMPARE(old->pages.size(), 0);
            }
        }
        // Opened again: already current, nothing lost.
        SellerDatabase again;
        QVERIFY(again.open(path));
        QCOMPARE(again.lookupCount(), keptLookups + 1);
        QCOMPARE(again.note(QStringLiteral("new")).note, QStringLiteral("退款后不发货"));
        const auto stored = again.lastLookup(QStringLiteral("new"));
        QVERIFY(stored);
        QCOMPARE(stored->pages.size(), 1);
        QCOMPARE(stored->pages.at(0).outcome, QStringLiteral("timeout"));
    }

    // The review queue: an order is queued once, a handled one stays handled (and in the list of
    // everything), and an entry without an order number is handled by its buyer's id.
    void reviewQueue()
    {
        SellerDatabase db;
        QVERIFY(db.open(freshPath()));
        const auto entry = [](const QString &order, const QString &buyer) {
            ReviewEntry e;
            e.orderNumber = order;
            e.buyerId = buyer;
            e.reasons = {QStringLiteral("在黑名单中：收货后退款"), QStringLiteral("没有认证")};
            e.source = QStringLiteral("订单.csv");
            return e;
        };
        int added = 0;
        QVERIFY(db.queueForReview({entry("1001", "tom"), entry("1002", "tom"), entry("", "amy")},
                                  &added));
        QCOMPARE(added, 3);
        QVERIFY(db.queueForReview({entry("1001", "tom")}, &added)); // the same export again
        QCOMPARE(added, 0);
        QCOMPARE(db.reviewCount(), 3);
        QCOMPARE(db.reviewQueue().first().reasons, entry("", "").reasons);

        int marked = 0;
        QVERIFY(db.markReviewed(QStringLiteral("1001"), QStringLiteral("已电话确认"), &marked));
        QCOMPARE(marked, 1);
        QVERIFY(db.markReviewed(QStringLiteral("amy"), QString(), &marked));
        QCOMPARE(marked, 1);
        QVERIFY(db.markReviewed(QStringLiteral("tom"), QString(), &marked)); // tom has numbers
        QCOMPARE(marked, 0);
        QVERIFY(db.queueForReview({entry("1001", "tom")}, &added));
        QCOMPARE(added, 0);
        const QList<ReviewEntry> waiting = db.reviewQueue();
        QCOMPARE(waiting.size(), 1);
        QCOMPARE(waiting.first().orderNumber, QStringLiteral("1002"));
        QVERIFY(db.markReviewed(waiting.first().rowId, QString()));
        QVERIFY(!db.markReviewed(waiting.first().rowId, QString())); // handled already
        const QList<ReviewEntry> all = db.reviewQueue(true);
        QCOMPARE(all.size(), 3);
        // Handled in the same millisecond, entries fall back on their queue time, which a
        // re-queue moves: 1001 is found by its number.
        const auto first = std::find_if(all.cbegin(), all.cend(), [](const ReviewEntry &e) {
            return e.orderNumber == QLatin1String("1001");
        });
        QVERIFY(first != all.cend());
        QCOMPARE(first->note, QStringLiteral("已电话确认"));
        QVERIFY(first->isHandled());
        QCOMPARE(db.reviewCount(), 0);
    }

    // Long order numbers: two that share their first hundreds of digits stay two, the whole
    // number finds its entry, and one queued again waits from its new time and file.
    void reviewQueueLongNumbers()
    {
        SellerDatabase db;
        QVERIFY(db.open(freshPath()));
        const QString shared(300, u'7');
        const auto entry = [](const QString &order, const QString &source, qint64 atMs) {
            ReviewEntry e;
            e.orderNumber = order;
            e.buyerId = QStringLiteral("tom");
            e.source = source;
            e.queued = QDateTime::fromMSecsSinceEpoch(atMs);
            return e;
        };
        const QString a = shared + u'1';
        const QString b = shared + u'2';
        const QString whole(kWholeOrderNumberChars, u'8');
        int added = 0;
        QVERIFY(db.queueForReview(
            {entry(a, "a.csv", 1000), entry(b, "a.csv", 2000), entry(whole, "a.csv", 3000)},
            &added));
        QCOMPARE(added, 3);
        QVERIFY(db.queueForReview({entry(a, "b.csv", 5000)}, &added));
        QCOMPARE(added, 0);
        const QList<ReviewEntry> waiting = db.reviewQueue();
        QCOMPARE(waiting.size(), 3);
        QCOMPARE(waiting.last().source, QStringLiteral("b.csv")); // re-queued: last, from now
        QCOMPARE(waiting.last().queued.toMSecsSinceEpoch(), 5000);
        QCOMPARE(waiting.at(1).orderNumber, whole); // kept whole up to the limit
        QVERIFY(shownOrderNumber(waiting.first().orderNumber).size() <= kShownOrderNumberChars);

        int marked = 0;
        QVERIFY(db.markReviewed(b, QString(), &marked));
        QCOMPARE(marked, 1);
        QVERIFY(db.markReviewed(shared, QString(), &marked)); // a part matches nothing
        QCOMPARE(marked, 0);
        QVERIFY(db.markReviewed(a, QString(), &marked));
        QCOMPARE(marked, 1);
        QCOMPARE(db.reviewCount(), 1);
    }

    void createdOwnerOnly()
    {
        const QString path = freshPath();
        SellerDatabase db;
        QVERIFY(db.open(path));
        QVERIFY(db.addLookup(lookupOf(QStringLiteral("x"))));
        for (const QString &file : {path, path + QStringLiteral("-wal")}) {
            struct stat st = {};
            QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));
        }
        struct stat folder = {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(path).path()).constData(), &folder), 0);
        QCOMPARE(folder.st_mode & 0777, mode_t(0700));
    }

    // Files the program must not write to, and damaged ones it moves aside.
    void unusableFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // "db": a good database
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("movedAside");
        QTest::addColumn<QString>("problem");
        const int off = int(SellerDatabase::State::Off);
        QTest::newRow("read-only") << QByteArray("db") << QStringList{} << true
                                   << int(SellerDatabase::State::ReadOnly) << false << "read-only";
        QTest::newRow("not a database") << QByteArray("id,reason\nx,y\n") << QStringList{} << false
                                        << off << false << "not an SQLite database";
        QTest::newRow("truncated database")
            << QByteArray("half") << QStringList{} << false << off << true << "is damaged";
        QTest::newRow("damaged header")
            << QByteArray("header") << QStringList{} << false << off << true << "is damaged";
        QTest::newRow("another program's database")
            << QByteArray() << QStringList{"CREATE TABLE t (x)"} << false << off << false
            << "not a Brelvon database";
        QTest::newRow("newer layout")
            << QByteArray()
            << QStringList{"CREATE TABLE schema_version (version INTEGER)",
                           "INSERT INTO schema_version VALUES (99)"}
            << false << off << false << "newer version";
    }
    void unusableFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, sql);
        QFETCH(bool, readOnly);
        QFETCH(int, state);
        QFETCH(bool, movedAside);
        QFETCH(QString, problem);
        const QString path = freshPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (content == "db" || content == "half" || content == "header") {
            {
                SellerDatabase db;
                QVERIFY(db.open(path));
                for (int i = 0; i < 200; ++i)
                    QVERIFY(db.addLookup(lookupOf(QStringLiteral("buyer%1").arg(i))));
                BuyerNote note;
                note.buyerId = QStringLiteral("buyer1");
                note.listed = ListMark::Blacklist;
                note.reason = QStringLiteral("拒收");
                QVERIFY(db.saveNote(note));
            }
            QByteArray bytes = readAll(path);
            if (content == "half")
                bytes.truncate(bytes.size() / 2);
            if (content == "header") // the page size and the format numbers garbled
                bytes.replace(16, 8, QByteArray(8, '\xFF'));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        } else if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        if (!sql.isEmpty())
            rawSql(path, sql);
        if (readOnly)
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray bytes = readAll(path);

        // Damage deep inside a file shows only when that part is read: the same then.
        SellerDatabase db;
        db.open(path);
        db.lookupCount();
        QVERIFY(!db.addLookup(lookupOf(QStringLiteral("x"))));
        QCOMPARE(int(db.state()), state);
        QVERIFY2(db.problem().contains(problem), qPrintable(db.problem()));
        if (readOnly) { // still read: the blacklist keeps warning
            QCOMPARE(db.note(QStringLiteral("buyer1")).reason, QStringLiteral("拒收"));
            QCOMPARE(db.lookupCount(), qint64(200));
        }
        if (movedAside) {
            QVERIFY(!QFileInfo::exists(path));
            QVERIFY2(db.movedAside().startsWith(path + QStringLiteral(".damaged-")),
                     qPrintable(db.movedAside()));
            QVERIFY(db.problem().contains(db.movedAside()));
            QCOMPARE(readAll(db.movedAside()), bytes);
            // Next time a new database starts; the damaged one stays where it was put.
            SellerDatabase next;
            QVERIFY(next.open(path));
            QCOMPARE(next.lookupCount(), qint64(0));
            QVERIFY(QFileInfo::exists(db.movedAside()));
        } else {
            QCOMPARE(readAll(path), bytes); // untouched
            QVERIFY(db.movedAside().isEmpty());
        }
    }

    void notAFile()
    {
        SellerDatabase db;
        QVERIFY(!db.open(m_dir.path()));
        QCOMPARE(db.state(), SellerDatabase::State::Off);
        QVERIFY(db.history().isEmpty());
        QVERIFY(QFileInfo(m_dir.path()).isDir());
    }

    void missingFileNotCreated()
    {
        const QString path = freshPath();
        SellerDatabase db;
        QVERIFY(!db.open(path, SellerDatabase::OpenMode::ExistingOnly));
        QCOMPARE(db.state(), SellerDatabase::State::Closed);
        QVERIFY(db.problem().isEmpty());
        QCOMPARE(db.note(QStringLiteral("x")).listed, ListMark::None);
        QVERIFY(!QFileInfo::exists(path));
    }

    void idsAreData_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("quote and semicolon") << QStringLiteral("a'b\";DROP TABLE lookups;--");
        QTest::newRow("like pattern") << QStringLiteral("%_");
        QTest::newRow("chinese") << QStringLiteral("快乐的小猫");
    }
    void idsAreData()
    {
        QFETCH(QString, id);
        const QString path = freshPath();
        SellerDatabase db;
        QVERIFY(db.open(path));
        QVERIFY(db.addLookup(lookupOf(QStringLiteral("other"))));
        QVERIFY(db.addLookup(lookupOf(id)));
        BuyerNote note;
        note.buyerId = id;
        note.note = id;
        note.listed = ListMark::Trusted;
        QVERIFY(db.saveNote(note));

        HistoryFilter byId;
        byId.buyerIds = QStringList{id};
        QCOMPARE(db.history(byId).size(), 1);
        QCOMPARE(db.history(byId).at(0).record.buyerId, id);
        HistoryFilter byText;
        byText.text = id;
        QCOMPARE(db.history(byText).size(), 1);
        QCOMPARE(db.note(id).note, id);
        QCOMPARE(db.lookupCount(), qint64(2));
    }

    void historyFilter()
    {
        SellerDatabase db;
        QVERIFY(db.open(freshPath()));
        const QDateTime start(QDate(2026, 11, 1), QTime(9, 0));
        for (int i = 0; i < 6; ++i)
            QVERIFY(db.addLookup(
                lookupOf(i % 2 ? QStringLiteral("tom") : QStringLiteral("amy"), QString::number(i)),
                start.addDays(i)));
        HistoryFilter f;
        QCOMPARE(db.history(f).size(), 6);
        QCOMPARE(db.history(f).at(0).record.goodCount, QStringLiteral("5")); // newest first
        f.buyerIds = QStringList{QStringLiteral("tom")};
        f.since = start.addDays(2);
        const QList<StoredLookup> tom = db.history(f);
        QCOMPARE(tom.size(), 2);
        QCOMPARE(tom.at(1).time, start.addDays(3));
        f = HistoryFilter();
        f.limit = 2;
        f.text = QStringLiteral("m"); // both ids hold an m
        QCOMPARE(db.history(f).size(), 2);
        QCOMPARE(db.lastLookup(QStringLiteral("amy"))->record.goodCount, QStringLiteral("4"));
        QVERIFY(!db.lastLookup(QStringLiteral("nobody")));
    }

    // Several threads and two connections (as two programs) writing at once lose nothing.
    void concurrentWriters()
    {
        const QString path = freshPath();
        SellerDatabase first;
        SellerDatabase second;
        QVERIFY(first.open(path));
        QVERIFY(second.open(path));
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([&, t] {
                SellerDatabase &db = t % 2 ? first : second;
                for (int i = 0; i < 40; ++i) {
                    if (!db.addLookup(lookupOf(QStringLiteral("t%1-%2").arg(t).arg(i))))
                        ++failures;
                }
            });
        }
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(first.lookupCount(), qint64(240));
    }

    // A long blacklist import lets the lookups of another program in as it goes, and loses
    // none of its own entries.
    void importLetsLookupsIn()
    {
        const QString path = freshPath();
        SellerDatabase importer;
        SellerDatabase recorder;
        QVERIFY(importer.open(path));
        QVERIFY(recorder.open(path));
        QList<BlacklistEntry> entries;
        for (int i = 0; i < 12000; ++i)
            entries.append({QStringLiteral("listed%1").arg(i), QStringLiteral("拒收"), {}, i + 2});
        std::atomic<bool> done{false};
        ImportReport report;
        bool imported = false;
        std::thread import([&] {
            imported = importer.importBlacklist(entries, &report);
            done = true;
        });
        QElapsedTimer clock;
        clock.start();
        int during = 0; // lookups stored while the import had been running for a while
        int stored = 0;
        while (!done) {
            QVERIFY(recorder.addLookup(lookupOf(QStringLiteral("buyer%1").arg(stored++))));
            if (!done && clock.elapsed() > 300)
                ++during;
        }
        import.join();
        QVERIFY(imported);
        QCOMPARE(report.added, 12000);
        QCOMPARE(recorder.notes().size(), 12000);
        QCOMPARE(recorder.lookupCount(), qint64(stored));
        QVERIFY2(during >= 2, qPrintable(QStringLiteral("%1 of %2 lookups in %3 ms")
                                             .arg(during)
                                             .arg(stored)
                                             .arg(clock.elapsed())));
    }

    void parseBlacklist_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("entries"); // id|reason|date
        QTest::addColumn<int>("refused");
        QTest::addColumn<QString>("error");
        QTest::newRow("quotes, commas, blank lines")
            << QByteArray("id,reason,date\r\n\r\n\"a,b\",\"说 \"\"不要\"\", 退款\",2026-11-02\r\n"
                          "  c  , spaces ,\n\n,,\nm,\"x\ny\",2026/1/5")
            << QStringList{"a,b|说 \"不要\", 退款|2026-11-02", "c|spaces|", "m|x\ny|2026-01-05"}
            << 0 << "";
        QTest::newRow("bom, columns in another order")
            << QByteArray("\xEF\xBB\xBF"
                          "date,ID,extra,reason\n2026年3月9日,tom,?,拒收\n")
            << QStringList{"tom|拒收|2026-03-09"} << 0 << "";
        QTest::newRow("gbk") << (QByteArray("id,reason\n") + encode936(u"快乐的小猫,恶意差评\n"))
                             << QStringList{"快乐的小猫|恶意差评|"} << 0 << "";
        QTest::newRow("ideographic space before a quote")
            << QStringLiteral("id,reason\n\u3000\"a,b\",\u3000x\n").toUtf8()
            << QStringList{"a,b|x|"} << 0 << "";
        QTest::newRow("duplicate ids: the later line wins")
            << QByteArray("id,reason\ntom,first\namy,x\ntom,second\n")
            << QStringList{"tom|second|", "amy|x|"} << 0 << "";
        QTest::newRow("refused lines")
            << QByteArray("id,reason,date\n,no id\ntom,bad date,tomorrow\namy,ok,2026-02-30\n") +
                   QByteArray(kMaxBlacklistIdLength + 1, 'x') + ",long\nok,,2026-11-02 10:00\n"
            << QStringList{"ok||2026-11-02"} << 4 << "";
        QTest::newRow("no header") << QByteArray("tom,拒收\n") << QStringList{} << 0 << "no header";
        QTest::newRow("empty") << QByteArray("\n\n") << QStringList{} << 0 << "empty";
        QTest::newRow("utf-16") << QByteArray("\xFF\xFEi\0d\0") << QStringList{} << 0 << "UTF-16";
    }
    void parseBlacklist()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, entries);
        QFETCH(int, refused);
        QFETCH(QString, error);
        const BlacklistFile file = parseBlacklistCsv(bytes);
        QVERIFY2(file.error.contains(error), qPrintable(file.error));
        QCOMPARE(file.ok(), error.isEmpty());
        QStringList got;
        for (const BlacklistEntry &e : file.entries)
            got.append(e.buyerId + u'|' + e.reason + u'|' + e.date.toString(Qt::ISODate));
        QCOMPARE(got, entries);
        QCOMPARE(file.refused, refused);
        // What the export writes reads back the same.
        if (file.ok()) {
            const BlacklistFile again = parseBlacklistCsv(blacklistCsv(file.entries));
            QCOMPARE(again.entries.size(), file.entries.size());
            for (qsizetype i = 0; i < file.entries.size(); ++i) {
                QCOMPARE(again.entries.at(i).buyerId, file.entries.at(i).buyerId);
                QCOMPARE(again.entries.at(i).reason, file.entries.at(i).reason);
            }
        }
    }

    // A cell a spreadsheet would run is written with a leading apostrophe in every CSV we
    // write, and the blacklist reads it back as it was.
    void csvCellsAreSpreadsheetSafe_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("formula") << "=HYPERLINK(\"http://x\",\"y\")"
                                 << QByteArray("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
        QTest::newRow("command") << "=cmd|'/C calc'!A0" << QByteArray("'=cmd|'/C calc'!A0");
        QTest::newRow("at") << "@SUM(1+1)" << QByteArray("'@SUM(1+1)");
        QTest::newRow("plus") << "+1+1" << QByteArray("'+1+1");
        QTest::newRow("minus") << "-2+3" << QByteArray("'-2+3");
        QTest::newRow("tab") << "\t=1+1" << QByteArray("'\t=1+1");
        QTest::newRow("carriage return") << "\r=1+1" << QByteArray("\"'\r=1+1\"");
        QTest::newRow("apostrophe of the user's") << "'=x" << QByteArray("''=x");
        QTest::newRow("apostrophes") << "''@x" << QByteArray("'''@x");
        QTest::newRow("plain apostrophe") << "'tom" << QByteArray("'tom");
        QTest::newRow("plain") << "tom-2" << QByteArray("tom-2");
        QTest::newRow("byte order mark first")
            << QString(QChar(0xFEFF)) + "tom" << QByteArray("\xEF\xBB\xBFtom");
    }
    void csvCellsAreSpreadsheetSafe()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        const QByteArray list =
            blacklistCsv({BlacklistEntry{QStringLiteral("tom"), text, QDate(2026, 11, 2), 0},
                          BlacklistEntry{text.trimmed(), QString(), QDate(), 0}});
        QVERIFY2(list.contains("\r\ntom," + field + ",2026-11-02\r\n"), list.constData());
        const BlacklistFile back = parseBlacklistCsv(list);
        QCOMPARE(back.entries.size(), 2);
        QCOMPARE(back.entries.at(0).reason, text);
        QCOMPARE(back.entries.at(1).buyerId, text.trimmed());

        StoredLookup l;
        l.record.buyerId = text;
        QVERIFY(historyCsv({l}).contains(',' + field + ','));
    }

    // A file near the size limit is read in little more memory than its own size, however many
    // fields its lines hold.
    void largeBlacklistStaysSmall_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("fill");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("entries");
        QTest::newRow("commas") << QByteArray() << QByteArray(",") << QByteArray() << "empty" << 0;
        QTest::newRow("header of many columns")
            << QByteArray("id") << QByteArray(",c") << QByteArray("\n") << "" << 0;
        QTest::newRow("one long reason") << QByteArray("id,reason\ntom,\"") << QByteArray("a\"\"")
                                         << QByteArray("\"\n") << "" << 1;
    }
    void largeBlacklistStaysSmall()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, fill);
        QFETCH(QByteArray, tail);
        QFETCH(QString, error);
        QFETCH(int, entries);
        const qint64 size = kMaxBlacklistFileBytes - 64;
        QFile file(m_dir.filePath(QStringLiteral("large.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray piece = fill.repeated(64 * 1024 / fill.size());
        QVERIFY(file.write(head) == head.size());
        while (file.size() + piece.size() + tail.size() <= size)
            QVERIFY(file.write(piece) == piece.size());
        QVERIFY(file.write(tail) == tail.size());
        file.close();

        const qint64 before = peakResidentKiB();
        const BlacklistFile list = readBlacklistCsv(file.fileName());
        const qint64 grown = peakResidentKiB() - before;
        QVERIFY2(list.error.contains(error), qPrintable(list.error));
        QCOMPARE(list.entries.size(), entries);
// The sanitizers' allocators keep freed memory resident (quarantine), so the bound is not theirs.
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
        QVERIFY2(
            grown < 4 * file.size() / 1024,
            qPrintable(
                QStringLiteral("%1 KiB for a file of %2 KiB").arg(grown).arg(file.size() / 1024)));
#else
        Q_UNUSED(grown);
#endif
    }

    void importKeepsWhatWasThere()
    {
        SellerDatabase db;
        QVERIFY(db.open(freshPath()));
        const auto save = [&](const QString &id, const QString &text, ListMark mark,
                              const QString &reason) {
            BuyerNote n;
            n.buyerId = id;
            n.note = text;
            n.listed = mark;
            n.reason = reason;
            n.listedOn = QDate(2026, 1, 1);
            QVERIFY(db.saveNote(n));
        };
        save(QStringLiteral("noted"), QStringLiteral("常客"), ListMark::None, {});
        save(QStringLiteral("friend"), QStringLiteral("老朋友"), ListMark::Trusted, {});
        save(QStringLiteral("listed"), {}, ListMark::Blacklist, QStringLiteral("拒收"));
        save(QStringLiteral("same"), {}, ListMark::Blacklist, QStringLiteral("r"));
        const BlacklistFile file = parseBlacklistCsv("id,reason,date\nnoted,骗退款,\nfriend,x,\n"
                                                     "listed,,\nsame,r,2026-01-01\nnew,y,\n");
        ImportReport report;
        QVERIFY(db.importBlacklist(file.entries, &report));
        QCOMPARE(report.added, 1);
        QCOMPARE(report.updated, 1);   // noted
        QCOMPARE(report.unchanged, 2); // listed (a blank reason keeps its own), same
        QCOMPARE(report.refused, 1);   // friend
        const BuyerNote noted = db.note(QStringLiteral("noted"));
        QCOMPARE(noted.note, QStringLiteral("常客"));
        QCOMPARE(noted.listed, ListMark::Blacklist);
        QCOMPARE(noted.reason, QStringLiteral("骗退款"));
        QCOMPARE(noted.listedOn, QDate::currentDate());
        QCOMPARE(db.note(QStringLiteral("friend")).listed, ListMark::Trusted);
        QCOMPARE(db.note(QStringLiteral("listed")).reason, QStringLiteral("拒收"));
        QCOMPARE(db.notes().size(), 5);
    }

    void lastLookupLine_data()
    {
        QTest::addColumn<QStringList>("before"); // goodCount, badGiven, nick
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QString>("line");
        QTest::newRow("changes") << QStringList{"120", "0", "a"} << QStringList{"128", "2", "a"}
                                 << "上次查询 2026-11-02：好评 120→128，给他人差评 0→2";
        QTest::newRow("nothing changed") << QStringList{"1", "0", "a"} << QStringList{"1", "0", "a"}
                                         << "上次查询 2026-11-02：没有变化";
        QTest::newRow("a page that gave nothing is no change")
            << QStringList{"", "0", "a"} << QStringList{"5", "", "b"}
            << "上次查询 2026-11-02：昵称 a→b";
    }
    void lastLookupLine()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        QFETCH(QString, line);
        StoredLookup previous;
        previous.time = QDateTime(QDate(2026, 11, 2), QTime(23, 59));
        const auto fill = [](BuyerCreditRecord *r, const QStringList &values) {
            r->goodCount = values.at(0);
            r->badGiven = values.at(1);
            r->nick = values.at(2);
        };
        fill(&previous.record, before);
        BuyerCreditRecord current;
        fill(&current, now);
        QCOMPARE(::lastLookupLine(previous, current), line);
    }

    void historyCsvIsSpreadsheetSafe()
    {
        StoredLookup l;
        l.time = QDateTime(QDate(2026, 11, 2), QTime(8, 5, 9));
        l.record.buyerId = QStringLiteral("tom");
        l.record.nick = QStringLiteral("=HYPERLINK(\"http://x\",\"点我\")");
        l.pages = {{QStringLiteral("ok"), 200, 10, 1, {}},
                   {QStringLiteral("network error: Connection refused"), 0, 0, 1, {}}};
        const QByteArray csv = historyCsv({l});
        // The pages column speaks the table's language.
        QVERIFY2(csv.endsWith(QStringLiteral(",正常；网络错误：Connection refused\r\n").toUtf8()),
                 csv.constData());
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                               "查询时间,买家名称,"));
        QVERIFY(
            csv.contains("\r\n2026-11-02 08:05:09,tom,\"'=HYPERLINK(\"\"http://x\"\",\"\"点我"));
    }
};

QTEST_GUILESS_MAIN(TestStorage)
#include "test_storage.moc"
