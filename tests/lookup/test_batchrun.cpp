#include "demosite/demosite.h"
#include "files/querysettings.h"
#include "lookup/batchrun.h"
#include "lookup/lookupsession.h"
#include "xlsxsheet.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// The batch run every front end starts: its journal and resume, the give-up on a marketplace
// that keeps blocking, one process per journal.
class TestBatchRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeIds(const QString &name, const QStringList &ids)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(ids.join(u'\n').toUtf8() + '\n');
        return file.fileName();
    }
    BatchRequest request(const QString &ids, const QString &out)
    {
        BatchRequest r;
        r.inputPath = ids;
        r.xlsxPath = out;
        r.journalPath = out + QStringLiteral(".journal");
        r.resume = true;
        return r;
    }
    // Runs the batch to its end; afterFinished (optional) is told each buyer's end and may cut
    // the run short.
    static BatchRunOutcome run(LookupSession &session, const BatchRequest &r,
                               const std::function<void(BatchRun *)> &afterFinished = {})
    {
        std::optional<BatchRunOutcome> outcome;
        BatchRun *batch = session.makeBatchRun(r, nullptr);
        const std::unique_ptr<BatchRun> owner(batch);
        connect(batch, &BatchRun::inputRead, batch, [batch] { batch->lookUp(); });
        if (afterFinished)
            connect(batch, &BatchRun::buyerFinished, batch,
                    [batch, afterFinished] { afterFinished(batch); });
        connect(batch, &BatchRun::finished, batch,
                [&outcome](const BatchRunOutcome &o) { outcome = o; });
        batch->start();
        if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 60000))
            return {};
        return *outcome;
    }

private slots:
    // A batch cut short midway and resumed looks each buyer up once: no more search pages in
    // both runs together than the ids and the buyers in flight, whether the buyers were found
    // or not.
    void resumeAsksOnce_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("three in flight") << 3;
    }
    void resumeAsksOnce()
    {
        QFETCH(int, jobs);
        DemoSite site;
        QVERIFY(site.start(0, 20)); // slow enough to cut the batch short midway
        QuerySettings settings = demoSettings(site.hostPort());
        settings.batchJobs = jobs;
        LookupSession session(settings);
        QStringList ids;
        for (int i = 0; i < 6; ++i)
            ids << QStringLiteral("xiaoyu_2008") << QStringLiteral("nobody_%1").arg(i);
        const QString out = m_dir.filePath(QStringLiteral("resume%1.xlsx").arg(jobs));
        BatchRequest r = request(writeIds(QStringLiteral("resume%1.txt").arg(jobs), ids), out);
        r.options.jobs = jobs;
        int finished = 0;
        const BatchRunOutcome first = run(session, r, [&finished](BatchRun *batch) {
            if (++finished == 5)
                batch->cancel(); // as if killed: no table, the journal stays
        });
        QCOMPARE(first.end, BatchRunOutcome::End::Cancelled);
        QVERIFY(QFile::exists(r.journalPath));
        const BatchRunOutcome second = run(session, r);
        QCOMPARE(second.end, BatchRunOutcome::End::Finished);
        QVERIFY(second.start.journalled >= 5);
        QCOMPARE(second.rows.size(), ids.size());
        QVERIFY2(site.searchRequests() <= ids.size() + jobs,
                 qPrintable(QString::number(site.searchRequests())));
        QVERIFY(second.complete());
        QVERIFY(!QFile::exists(r.journalPath)); // the table is written: nothing to resume
    }

    // A marketplace that blocks every page: the batch gives up once the pauses in a row have
    // lasted the give-up time, every id not read is a row saying so, and the journal stays for
    // a resume, which tries the failed rows again.
    void givesUpOnBlockingMarketplace()
    {
        DemoSite site;
        QVERIFY(site.start());
        site.setBlockAfter(1);
        QuerySettings settings = demoSettings(site.hostPort());
        settings.blockedPauseSec = 1;
        settings.batchJobs = 3;
        LookupSession session(settings);
        const QStringList ids = {QStringLiteral("xiaoyu_2008"), QStringLiteral("tom.wang"),
                                 QStringLiteral("hidden_buyer"), QStringLiteral("blue sky88"),
                                 QStringLiteral("bargain_hunter")};
        const QString out = m_dir.filePath(QStringLiteral("blocked.xlsx"));
        BatchRequest r = request(writeIds(QStringLiteral("blocked.txt"), ids), out);
        r.options.jobs = 3;
        r.giveUpAfterMs = 2500;
        int pauses = 0;
        std::optional<BatchRunOutcome> outcome;
        BatchRun batch(&session.service(), session.database(), r);
        connect(&batch, &BatchRun::inputRead, &batch, [&batch] { batch.lookUp(); });
        connect(&batch, &BatchRun::paused, &batch, [&pauses] { ++pauses; });
        connect(&batch, &BatchRun::finished, &batch,
                [&outcome](const BatchRunOutcome &o) { outcome = o; });
        batch.start();
        QVERIFY(QTest::qWaitFor([&] { return outcome.has_value(); }, 30000));
        QCOMPARE(outcome->end, BatchRunOutcome::End::GaveUp);
        // One pause for the batch at a time, doubling: 1 s and 2 s, then it gives up.
        QVERIFY2(pauses >= 1 && pauses <= 3, qPrintable(QString::number(pauses)));
        QCOMPARE(outcome->rows.size(), ids.size());
        QCOMPARE(outcome->failed, ids.size());
        QVERIFY(!outcome->complete());
        QVERIFY(outcome->tableWritten);
        const XlsxSheet sheet = readXlsxSheet(out);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.cells.value(QStringLiteral("A6")).value, ids.last());
        QCOMPARE(sheet.cells.value(QStringLiteral("B6")).value, batchGaveUpText());
        QVERIFY(QFile::exists(r.journalPath));

        site.setBlockAfter(0);
        const BatchRunOutcome again = run(session, r);
        // Buyers cut short when it gave up were never finished: only those that ended blocked
        // are in the journal, to be tried again.
        QVERIFY(again.start.journalled + again.start.retried <= outcome->outcomes.size());
        QCOMPARE(again.start.journalled, 0);
        QCOMPARE(again.end, BatchRunOutcome::End::Finished);
        QVERIFY(again.complete());
    }

    // One process per journal: a lock held by a live process refuses the batch and names the
    // process; one whose process is gone is taken over.
    void oneProcessPerJournal_data()
    {
        QTest::addColumn<bool>("holderAlive");
        QTest::newRow("held") << true;
        QTest::newRow("stale") << false;
    }
    void oneProcessPerJournal()
    {
        QFETCH(bool, holderAlive);
        DemoSite site;
        QVERIFY(site.start());
        LookupSession session(demoSettings(site.hostPort()));
        const QString out = m_dir.filePath(holderAlive ? QStringLiteral("held.xlsx")
                                                       : QStringLiteral("stale.xlsx"));
        const BatchRequest r =
            request(writeIds(QStringLiteral("lock.txt"), {QStringLiteral("tom.wang")}), out);
        const QString lockPath = r.journalPath + QStringLiteral(".lock");
        QLockFile held(lockPath);
        if (holderAlive) {
            QVERIFY(held.tryLock(0));
        } else {
            // A lock as this program leaves it, of a process that is gone.
            QByteArray content;
            {
                QLockFile mine(lockPath);
                QVERIFY(mine.tryLock(0));
                QFile written(lockPath);
                QVERIFY(written.open(QIODevice::ReadOnly));
                content = written.readAll();
            }
            QProcess gone;
            gone.start(QStringLiteral("sleep"), {QStringLiteral("0.1")});
            QVERIFY(gone.waitForStarted());
            const qint64 pid = gone.processId();
            QVERIFY(gone.waitForFinished());
            content = QByteArray::number(pid) + content.mid(content.indexOf('\n'));
            QFile lock(lockPath);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(content);
            lock.close();
        }
        const BatchRunOutcome outcome = run(session, r);
        if (holderAlive) {
            QCOMPARE(outcome.end, BatchRunOutcome::End::Refused);
            QCOMPARE(outcome.holderPid, QCoreApplication::applicationPid());
            QVERIFY2(outcome.refusal.contains(QString::number(outcome.holderPid)),
                     qPrintable(outcome.refusal));
            QVERIFY(!QFile::exists(out));
        } else {
            QVERIFY2(outcome.end == BatchRunOutcome::End::Finished, qPrintable(outcome.refusal));
            QVERIFY(!QFile::exists(lockPath)); // released at the end
        }
    }
};

QTEST_GUILESS_MAIN(TestBatchRun)
#include "test_batchrun.moc"
