#include "lookup/batchrun.h"

#include "engine/batchengine.h"
#include "engine/taskpool.h"
#include "files/batchjournal.h"
#include "lookup/batchfindings.h"
#include "model/ownerfolders.h"
#include "model/uilanguage.h"
#include "storage/sellerdatabase.h"
#include "web/canceltoken.h"
#include "web/fetchclock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <atomic>
#include <utility>

struct BatchRun::Work
{
    CancelToken cancel;
    std::atomic<bool> stop{false};
    std::atomic<bool> gaveUp{false};
    std::atomic<bool> cutShort{false};
    TaskPool::TaskHandle task;
    BatchInput input;
    BatchInputIdentity identity;
    BatchStart start;
    std::unique_ptr<QLockFile> lock;
    std::unique_ptr<BatchJournal> journal; // open when resuming; made when the lookups begin
};

QString batchGaveUpText()
{
    return QStringLiteral("未查询（市场一直要求验证）");
}

QString BatchRunOutcome::shortfallText() const
{
    if (complete())
        return {};
    const int total = start.total;
    const int short_ = failed;
    QString text =
        inUserLanguage(QStringLiteral("%1 个买家中 %2 个未查到（失败 %3 个，未查询 %4 个）"),
                       QStringLiteral("%2 of %1 buyer(s) not read (%3 failed, %4 not "
                                      "looked up)"))
            .arg(QString::number(total), QString::number(short_),
                 QString::number(short_ - notQueried), QString::number(notQueried));
    if (end == End::GaveUp)
        text += inUserLanguage(QStringLiteral("：市场一直要求验证，已放弃"),
                               QStringLiteral(": the marketplace kept asking for a check, gave "
                                              "up"));
    for (const QString &problem : problems)
        text += u'\n' + problem;
    return text;
}

BatchRun::BatchRun(LookupService *service, SellerDatabase *database, BatchRequest request,
                   QObject *parent)
    : QObject(parent), m_service(service), m_database(database), m_request(std::move(request))
{
    qRegisterMetaType<BatchRunOutcome>();
}

BatchRun::~BatchRun()
{
    cancel();
    join();
}

void BatchRun::post(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void BatchRun::stop()
{
    if (m_work)
        m_work->stop.store(true);
}

void BatchRun::stopNow()
{
    if (m_work) {
        m_work->cutShort.store(true);
        m_work->stop.store(true);
        m_work->cancel.cancel();
    }
}

void BatchRun::cancel()
{
    if (m_work)
        m_work->cancel.cancel();
}

void BatchRun::join()
{
    if (m_work && m_work->task)
        m_service->pool().wait(std::exchange(m_work->task, nullptr));
}

void BatchRun::refuse(const QString &why, qint64 holderPid, bool inputUnreadable)
{
    BatchRunOutcome outcome;
    outcome.end = BatchRunOutcome::End::Refused;
    outcome.refusal = why;
    outcome.holderPid = holderPid;
    outcome.inputUnreadable = inputUnreadable;
    if (m_work)
        outcome.start = m_work->start;
    post([this, outcome] {
        join();
        m_work.reset(); // the journal's lock goes with it
        m_running = false;
        emit finished(outcome);
    });
}

void BatchRun::abandon()
{
    if (!m_running)
        return;
    BatchRunOutcome outcome;
    outcome.end = BatchRunOutcome::End::Cancelled;
    outcome.start = m_work ? m_work->start : BatchStart();
    join();
    m_work.reset();
    m_running = false;
    emit finished(outcome);
}

void BatchRun::start()
{
    if (m_running)
        return;
    m_running = true;
    auto work = std::make_shared<Work>();
    m_work = work;
    work->task = m_service->pool().submit([this, work] {
        const BatchRequest &r = m_request;
        work->input = r.openedExport ? readOrderExport(r.openedExport.get(), r.inputPath, r.input)
                                     : readBatchInput(r.inputPath, r.input);
        BatchInput &input = work->input;
        work->start.orderFile = input.orderFile;
        if (!input.ok())
            return refuse(input.error, 0, true);
        if (input.orderFile && input.ids.isEmpty())
            return refuse(inUserLanguage(QStringLiteral("订单文件中没有买家：%1"),
                                         QStringLiteral("no buyer in the order file %1"))
                              .arg(QDir::toNativeSeparators(r.inputPath)));
        work->start.total = int(input.ids.size());
        work->start.leftOut = input.leftOut;
        QString error;
        for (const QString &out : {r.xlsxPath, r.csvPath}) {
            if (!out.isEmpty() && !checkBatchOutput(out, r.ownFiles, &error))
                return refuse(error);
        }
        if (r.journalPath.isEmpty()) {
            post([this, start = work->start] { emit inputRead(start); });
            return;
        }
        if (!BatchInputIdentity::of(r.inputPath, input.ids, &work->identity, &error))
            return refuse(error);
        // One process per journal: a second batch on it would fetch the same buyers and write
        // the same table. A lock whose process is gone is taken over.
        if (!makeMissingFolders(QFileInfo(r.journalPath).absolutePath(), &error))
            return refuse(error);
        work->lock = std::make_unique<QLockFile>(r.journalPath + QStringLiteral(".lock"));
        work->lock->setStaleLockTime(0);
        if (!work->lock->tryLock(0)) {
            qint64 pid = 0;
            QString host;
            QString application;
            if (work->lock->error() == QLockFile::LockFailedError &&
                work->lock->getLockInfo(&pid, &host, &application))
                return refuse(inUserLanguage(QStringLiteral("批量查询记录 %1 正被另一个进程（%2，"
                                                            "进程号 %3）使用"),
                                             QStringLiteral("the batch journal %1 is in use by "
                                                            "another process (%2, pid %3)"))
                                  .arg(QDir::toNativeSeparators(r.journalPath),
                                       application.isEmpty() ? host : application,
                                       QString::number(pid)),
                              pid);
            return refuse(inUserLanguage(QStringLiteral("无法锁定批量查询记录 %1"),
                                         QStringLiteral("cannot lock the batch journal %1"))
                              .arg(QDir::toNativeSeparators(r.journalPath)));
        }
        const bool exists = QFileInfo::exists(r.journalPath);
        if (exists && !r.resume && r.refuseUnfinished)
            return refuse(inUserLanguage(
                              QStringLiteral("上次的批量查询未完成（记录在 %1），用 --resume 继续，"
                                             "或删除该文件重新开始"),
                              QStringLiteral("the last batch to this output did not finish (its "
                                             "journal is %1): continue it with --resume, or "
                                             "remove that file to start again"))
                              .arg(r.journalPath));
        if (exists && r.resume) {
            auto journal = std::make_unique<BatchJournal>();
            if (!journal->open(r.journalPath, &error))
                return refuse(error);
            if (!(journal->input() == work->identity))
                return refuse(inUserLanguage(QStringLiteral("批量查询记录 %1 属于另一个输入（%2），"
                                                            "与 %3 不符：未继续"),
                                             QStringLiteral("the batch journal %1 belongs to "
                                                            "another input (%2), not %3: not "
                                                            "resumed"))
                                  .arg(QDir::toNativeSeparators(r.journalPath),
                                       QDir::toNativeSeparators(journal->input().path),
                                       QDir::toNativeSeparators(work->identity.path)));
            for (const JournalRow &row : journal->rows()) {
                if (row.index < 0 || row.index >= work->start.total)
                    continue;
                if (isLookedUp(row.status))
                    ++work->start.journalled;
                else
                    ++work->start.retried;
            }
            work->journal = std::move(journal);
        }
        post([this, start = work->start] { emit inputRead(start); });
    });
}

void BatchRun::lookUp()
{
    if (!m_running || !m_work)
        return;
    join(); // the input is read
    std::shared_ptr<Work> work = m_work;
    work->task = m_service->pool().submit([this, work] {
        BatchRunOutcome outcome = runLookups(*work);
        if (outcome.end != BatchRunOutcome::End::Refused &&
            outcome.end != BatchRunOutcome::End::Cancelled)
            writeResults(*work, &outcome);
        post([this, outcome = std::move(outcome)] {
            join();
            m_work.reset();
            m_running = false;
            emit finished(outcome);
        });
    });
}

BatchRunOutcome BatchRun::runLookups(Work &work)
{
    const BatchRequest &r = m_request;
    BatchRunOutcome outcome;
    outcome.start = work.start;
    // A new journal only once the batch is sure to run: a refused one leaves nothing behind.
    if (!r.journalPath.isEmpty() && !work.journal) {
        auto journal = std::make_unique<BatchJournal>();
        QString error;
        if (!journal->create(r.journalPath, work.identity, r.journalNote, &error)) {
            outcome.end = BatchRunOutcome::End::Refused;
            outcome.refusal = error;
            return outcome;
        }
        work.journal = std::move(journal);
    }
    BatchOptions options = r.options;
    options.journal = work.journal.get();
    if (!options.pacing)
        options.pacing = m_service->makePacing(options);
    BatchPacing *pacing = options.pacing.get();
    const QuerySettings settings = m_service->settings();
    const qint64 giveUpMs =
        r.giveUpAfterMs > 0 ? r.giveUpAfterMs : qint64(settings.giveUpAfterMinutes * 60 * 1000);

    const QStringList &ids = work.input.ids;
    LookupService::BatchProgress progress;
    progress.started = [this](int finished, int total, const QString &id) {
        post([this, finished, total, id] { emit buyerStarted(finished, total, id); });
    };
    progress.done = [this, &ids](int index, const LookupOutcome &done) {
        LookupOutcome told = done;
        told.id = ids.at(index); // the id as the file has it, as its row shows it
        post([this, index, told = std::move(told)] { emit buyerFinished(index, told); });
    };
    progress.stopRequested = [&work] { return work.stop.load() || work.gaveUp.load(); };
    // One pause for the whole batch at a time (the pacing's); once the pauses in a row have
    // lasted the give-up time, the marketplace is not waited on any longer.
    progress.paused = [this, &work, pacing, giveUpMs](int seconds, const QString &why) {
        const qint64 since = pacing->blockedSince();
        if (since > 0 && fetchClockNow() - since >= giveUpMs) {
            work.gaveUp.store(true);
            work.cancel.cancel();
            return;
        }
        post([this, seconds, why] { emit paused(seconds, why); });
    };
    bool cancelled = false;
    QList<int> indexes;
    const QDateTime began = QDateTime::currentDateTime();
    outcome.outcomes = m_service->batch(ids, options, work.cancel, progress, &cancelled, &indexes);
    if (work.journal && !work.journal->problem().isEmpty())
        outcome.problems.append(work.journal->problem());
    if (cancelled && !work.gaveUp.load() && !work.cutShort.load()) {
        outcome.end = BatchRunOutcome::End::Cancelled;
        return outcome;
    }
    outcome.end = work.gaveUp.load()                     ? BatchRunOutcome::End::GaveUp
                  : outcome.outcomes.size() < ids.size() ? BatchRunOutcome::End::Stopped
                                                         : BatchRunOutcome::End::Finished;
    outcome.notQueried = int(ids.size() - outcome.outcomes.size());
    for (const LookupOutcome &o : std::as_const(outcome.outcomes)) {
        if (!isLookedUp(o.status))
            ++outcome.failed;
    }
    QList<BatchRow> looked = batchRows(outcome.outcomes);
    if (outcome.end == BatchRunOutcome::End::GaveUp) {
        // Every id has its row: those never read say so.
        outcome.failed += outcome.notQueried;
        QList<BatchRow> rows;
        rows.reserve(ids.size());
        qsizetype k = 0;
        for (int i = 0; i < int(ids.size()); ++i) {
            if (k < indexes.size() && indexes.at(k) == i) {
                rows.append(std::move(looked[k++]));
            } else {
                BatchRow row{ids.at(i), {}, {}, LookupStatus::Blocked};
                row.unread = batchGaveUpText();
                rows.append(std::move(row));
            }
        }
        looked = std::move(rows);
    }
    outcome.rows = std::move(looked);
    outcome.staleFields = staleFieldsOfBatch(outcome.outcomes, m_database, began);
    if (!outcome.staleFields.isEmpty())
        outcome.staleText = staleRulesText(outcome.staleFields, configurationName(*m_service));
    return outcome;
}

void BatchRun::writeResults(Work &work, BatchRunOutcome *outcome)
{
    const BatchRequest &r = m_request;
    const QuerySettings settings = m_service->settings();
    const bool orderFile = work.input.orderFile;
    if (orderFile)
        addOrderColumns(&outcome->rows, work.input.buyers);
    if (r.sortByRisk)
        sortRowsByRisk(&outcome->rows);
    if (outcome->rows.isEmpty() && outcome->end != BatchRunOutcome::End::Finished) {
        // A batch stopped before any buyer finished has nothing to write.
        if (work.journal)
            work.journal->remove();
        return;
    }
    BatchTableOptions table;
    table.extraColumns = r.extraColumns;
    table.risk = settings.risk;
    table.orderColumns = orderFile;
    table.markRisk = table.summarySheet = r.markRisk || orderFile || r.sortByRisk;
    if (!outcome->staleText.isEmpty())
        table.warnings = {outcome->staleText};

    bool tableWritten = true;
    QString error;
    if (r.xlsxInTemp) {
        const QString path = writeBatchSpreadsheetToTemp(outcome->rows, &error, table);
        if (path.isEmpty()) {
            outcome->problems.append(error);
            tableWritten = false;
        } else {
            outcome->written.append(path);
        }
    } else if (!r.xlsxPath.isEmpty()) {
        QString path = r.xlsxPath;
        if (r.xlsxPathWhenTaken && (QFileInfo::exists(path) || QFileInfo(path).isSymLink()))
            path = r.xlsxPathWhenTaken();
        QString savedTo;
        if (writeBatchSpreadsheet(path, outcome->rows, &error, table, r.ownFiles, &savedTo)) {
            outcome->written.append(path);
        } else {
            outcome->problems.append(error);
            if (!savedTo.isEmpty())
                outcome->written.append(savedTo);
            tableWritten = false;
        }
    }
    if (!r.csvPath.isEmpty()) {
        if (writeBatchCsv(r.csvPath, outcome->rows, &error, table, r.ownFiles)) {
            outcome->written.append(r.csvPath);
        } else {
            outcome->problems.append(error);
            tableWritten = false;
        }
    }
    outcome->tableWritten = tableWritten;
    // The orders of 高 buyers wait for review, whether or not the table could be written.
    if (orderFile && m_database) {
        const QList<ReviewEntry> entries =
            reviewEntriesOf(outcome->rows, QFileInfo(r.inputPath).fileName());
        if (!entries.isEmpty() && !m_database->queueForReview(entries, &outcome->queued))
            outcome->problems.append(
                inUserLanguage(QStringLiteral("无法加入待处理订单：%1"),
                               QStringLiteral("cannot queue the orders for review: %1"))
                    .arg(m_database->problem()));
    }
    // The table is written: nothing left to resume, unless rows were never read.
    if (work.journal && tableWritten && outcome->end != BatchRunOutcome::End::GaveUp)
        work.journal->remove();
}
