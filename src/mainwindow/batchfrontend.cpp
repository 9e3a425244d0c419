#include "mainwindow/batchfrontend.h"

#include "engine/batchengine.h"
#include "files/batchinput.h"
#include "files/batchjournal.h"
#include "files/idfile.h"
#include "files/outputguard.h"
#include "files/spreadsheetexport.h"
#include "lookup/lookuprunner.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/programtitle.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/spreadsheetopener.h"
#include "mainwindow/verdictbar.h"
#include "model/ownerfolders.h"
#include "storage/sellerdatabase.h"
#include "watch/batchfindings.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <array>
#include <memory>

BatchFrontEnd::BatchFrontEnd(QWidget *window, LookupService *service, const QuerySettings &settings,
                             const MainWindowLayout &layout, ResultLines *lines)
    : QObject(window), m_window(window), m_settings(settings), m_lines(lines),
      m_batchIdField(layout.batchIdField), m_resultFields(layout.resultFields),
      m_areaTableField(layout.areaTableField), m_progressBar(layout.batchProgress),
      m_stopButton(layout.batchStop), m_summary(layout.batchSummary), m_tableRow(layout.batchTable),
      m_tablePath(layout.batchTablePath), m_runner(new LookupRunner(service, this)),
      m_pauseTimer(new QTimer(this))
{
    connect(m_stopButton, &QPushButton::clicked, this, &BatchFrontEnd::stop);
    connect(layout.batchTableOpen, &ClickLabel::clicked, this, &BatchFrontEnd::openTable);
    connect(layout.batchTableSave, &ClickLabel::clicked, this, &BatchFrontEnd::saveTable);
    connect(layout.batchTableFolder, &ClickLabel::clicked, this, &BatchFrontEnd::openTableFolder);
    // Under the summary: the verdicts as a bar, and a warning when the page rules went stale.
    m_bar = new VerdictBar(m_summary->parentWidget());
    m_bar->hide();
    m_staleLine = new QLabel(m_summary->parentWidget());
    m_staleLine->setObjectName(QStringLiteral("BatchStaleRules"));
    m_staleLine->setTextFormat(Qt::PlainText);
    m_staleLine->setWordWrap(true);
    m_staleLine->setStyleSheet(QStringLiteral("color: #C00000;"));
    m_staleLine->hide();
    m_pauseTimer->setInterval(1000);
    connect(m_pauseTimer, &QTimer::timeout, this, &BatchFrontEnd::showPause);
}

BatchFrontEnd::~BatchFrontEnd()
{
    join();
}

void BatchFrontEnd::abandon()
{
    m_abandoned = true;
    m_runner->cancel();
}

void BatchFrontEnd::join()
{
    m_runner->cancel();
    m_runner->join();
}

void BatchFrontEnd::stop()
{
    if (!m_running || !m_runner->isRunning())
        return;
    ++m_stops;
    if (m_stops > 1 || m_started == 0 || m_pauseTimer->isActive()) {
        // Before the first buyer only the configuration's download runs, a second stop says the
        // user will not wait for the buyers in flight, and during a pause they would wait for
        // the marketplace: each ends at once.
        m_pauseTimer->stop();
        m_runner->cancel();
        m_stopButton->setEnabled(false);
        return;
    }
    m_runner->stop();
    m_stopButton->setText(tr("立即停止"));
    m_stopButton->setToolTip(tr("不再等待正在查询的买家"));
    m_lines->showProgress(tr("正在停止：等待正在查询的买家查完…"));
}

void BatchFrontEnd::clearSummary()
{
    m_bar->hide();
    m_staleLine->hide();
    m_summary->hide();
    m_tableRow->hide();
}

void BatchFrontEnd::openTable()
{
    if (m_table.isEmpty())
        return;
    const QPointer<BatchFrontEnd> self(this);
    // The spreadsheet program when one is installed, else whatever the desktop opens xlsx with.
    bool opened = m_openSpreadsheet ? m_openSpreadsheet(m_table) : openSpreadsheet(m_table);
    if (!self)
        return;
    if (!opened)
        opened = QDesktopServices::openUrl(QUrl::fromLocalFile(m_table));
    if (!opened)
        tell(tr("无法打开表格，电脑上可能没有表格程序：\n%1\n请另存一份，或打开所在文件夹取走。")
                 .arg(QDir::toNativeSeparators(m_table)));
}

void BatchFrontEnd::openTableFolder()
{
    if (m_table.isEmpty())
        return;
    const QString dir = QFileInfo(m_table).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(dir)))
        tell(tr("无法打开文件夹：\n%1").arg(QDir::toNativeSeparators(dir)));
}

QString BatchFrontEnd::summaryText(const QList<LookupOutcome> &outcomes, bool stopped,
                                   qsizetype notQueried)
{
    qsizetype found = 0;
    qsizetype notFound = 0;
    qsizetype highRisk = 0;
    for (const LookupOutcome &outcome : outcomes) {
        if (outcome.status == LookupStatus::Found)
            ++found;
        else if (outcome.status == LookupStatus::NotFound)
            ++notFound;
        if (outcome.assessment.risk.level == RiskLevel::High)
            ++highRisk;
    }
    const qsizetype failed = outcomes.size() - found - notFound;
    QString text = tr("共%1个：找到%2个，查无此人%3个，失败%4个，高风险%5个")
                       .arg(outcomes.size())
                       .arg(found)
                       .arg(notFound)
                       .arg(failed)
                       .arg(highRisk);
    if (stopped)
        text = tr("已停止：") + text + QLatin1Char('\n') + tr("未查询%1个").arg(notQueried);
    return text;
}

QString BatchFrontEnd::chooseIdFile()
{
    if (m_chooseIdFile)
        return m_chooseIdFile(m_window);
    // On the heap and watched: the window, and the dialog with it, may be deleted while it is
    // open.
    QPointer<QFileDialog> dialog =
        new QFileDialog(m_window, QStringLiteral("打开"), QString(),
                        tr("买家ID列表 (*.txt);;订单导出 (*.csv *.xlsx)"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    QString name;
    if (dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
        name = dialog->selectedFiles().constFirst();
    delete dialog;
    return name;
}

QString BatchFrontEnd::chooseSaveFile(const QString &suggested)
{
    if (m_chooseSaveFile)
        return m_chooseSaveFile(m_window, suggested);
    QPointer<QFileDialog> dialog =
        new QFileDialog(m_window, tr("另存为"), suggested, tr("Excel 表格 (*.xlsx)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("xlsx"));
    QString name;
    if (dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
        name = dialog->selectedFiles().constFirst();
    delete dialog;
    return name;
}

void BatchFrontEnd::tell(const QString &text)
{
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(), text, QMessageBox::Ok, m_window);
    box->setTextFormat(Qt::PlainText);
    fitTitle(box);
    box->exec();
    delete box;
}

bool BatchFrontEnd::confirm(const QString &text)
{
    const QPointer<BatchFrontEnd> self(this);
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, programTitle(), text,
                                                QMessageBox::Ok | QMessageBox::Cancel, m_window);
    box->setTextFormat(Qt::PlainText);
    const bool ok = box->exec() == QMessageBox::Ok && box;
    delete box;
    return ok && self;
}

void BatchFrontEnd::run()
{
    if (m_running)
        return;
    m_running = true;
    const QPointer<BatchFrontEnd> self(this);
    const QString fileName = chooseIdFile();
    if (!self)
        return;
    // Cancelled, or neither a text file nor an order export: nothing happens.
    if ((!isIdFileName(fileName) && !isOrderFileName(fileName)) || m_abandoned) {
        m_running = false;
        return;
    }
    start(fileName, false);
}

void BatchFrontEnd::offerResume()
{
    if (m_running || m_journalPath.isEmpty() || !QFileInfo::exists(m_journalPath))
        return;
    BatchJournal journal;
    QString error;
    if (!journal.open(m_journalPath, &error)) {
        tell(error);
        return;
    }
    const QString input = journal.input().path;
    QPointer<QMessageBox> box = new QMessageBox(
        QMessageBox::Question, programTitle(),
        tr("上次的批量查询未完成：\n%1\n已查%2个，共%3个。是否继续？")
            .arg(QDir::toNativeSeparators(input), QString::number(journal.rows().size()),
                 QString::number(journal.input().idCount)),
        QMessageBox::NoButton, m_window);
    box->setTextFormat(Qt::PlainText);
    QPushButton *go = box->addButton(tr("继续"), QMessageBox::AcceptRole);
    QPushButton *drop = box->addButton(tr("放弃"), QMessageBox::DestructiveRole);
    box->addButton(tr("以后再说"), QMessageBox::RejectRole);
    box->setDefaultButton(go);
    const QPointer<BatchFrontEnd> self(this);
    box->exec();
    QAbstractButton *clicked = box ? box->clickedButton() : nullptr;
    delete box;
    if (!self || m_running)
        return;
    if (clicked == drop) {
        journal.remove();
    } else if (clicked == go) {
        m_running = true;
        start(input, true);
    }
}

void BatchFrontEnd::start(const QString &fileName, bool resume)
{
    const QPointer<BatchFrontEnd> self(this);
    BatchInputOptions inputOptions;
    inputOptions.maxIds = m_settings.batchMaxIds;
    inputOptions.encoding = m_settings.idFileEncoding;
    inputOptions.buyerColumn = m_settings.buyerColumn;
    BatchInput idFile = readBatchInput(fileName, inputOptions);
    if (!idFile.ok()) {
        m_running = false;
        tell(idFile.orderFile ? idFile.error
                              : QStringLiteral("无法读取关键词文件。\n") + idFile.error);
        return;
    }
    if (idFile.ids.isEmpty()) {
        // Nothing to look up and nothing to write: an empty table would only puzzle.
        m_running = false;
        tell(tr("文件中没有买家ID：\n%1").arg(QDir::toNativeSeparators(fileName)));
        return;
    }
    if (idFile.leftOut > 0) {
        const bool go = confirm(tr("文件中有%1个买家ID，一次最多查询%2个。\n"
                                   "只查询前%2个，后面的%3个不会查询。")
                                    .arg(idFile.ids.size() + idFile.leftOut)
                                    .arg(idFile.ids.size())
                                    .arg(idFile.leftOut));
        if (!self)
            return;
        if (!go || m_abandoned) {
            m_running = false;
            return;
        }
    }
    // The journal: a new one, or the unfinished one when resuming (if it is still this file's).
    m_journal.reset();
    m_journalled = 0;
    if (!m_journalPath.isEmpty()) {
        auto journal = std::make_unique<BatchJournal>();
        BatchInputIdentity identity;
        QString error;
        bool ok = BatchInputIdentity::of(fileName, idFile.ids, &identity, &error);
        if (ok && resume) {
            ok = journal->open(m_journalPath, &error);
            if (ok && !(journal->input() == identity)) {
                ok = false;
                error = tr("文件已改变，与上次的批量查询记录不符：%1")
                            .arg(QDir::toNativeSeparators(fileName));
            }
        } else if (ok) {
            // The data folder may be new: owner-only, as every folder the program makes there.
            ok = makeMissingFolders(QFileInfo(m_journalPath).absolutePath(), &error) &&
                 journal->create(m_journalPath, identity, QString(), &error);
        }
        if (!ok) {
            m_running = false;
            tell(error);
            return;
        }
        m_journalled = int(journal->rows().size());
        m_journal = std::move(journal);
    }
    m_idFileName = fileName;
    m_orderFile = idFile.orderFile;
    m_orderBuyers = std::move(idFile.buyers);
    m_stops = 0;
    m_started = 0;
    m_finishedRows = 0;
    m_began = QDateTime::currentDateTime();

    emit busy();
    clearSummary();
    m_lines->hide();
    m_lines->beginBatch();
    m_lines->showProgress(QString());
    const int total = int(idFile.ids.size());
    m_progressBar->setRange(0, total);
    m_progressBar->setValue(0);
    m_progressBar->setFormat(tr("正在准备…"));
    m_progressBar->show();
    m_stopButton->setText(tr("停止"));
    m_stopButton->setToolTip(tr("查完正在查询的买家后停止，已查到的照样写入表格（Esc）"));
    m_stopButton->setEnabled(true);
    m_stopButton->show();

    LookupRunner::BatchProgress progress;
    progress.started = [this](int, int total, const QString &id) { started(total, id); };
    progress.paused = [this](int seconds, const QString &why) { paused(seconds, why); };
    progress.finished = [this, ids = idFile.ids](int index, const LookupOutcome &outcome) {
        m_progressBar->setValue(m_journalled + ++m_finishedRows);
        const BuyerCreditRecord &r = outcome.result.record;
        const QString values[] = {r.goodRate,     r.goodCount, r.neutralCount, r.badCount,
                                  r.neutralGiven, r.badGiven,  r.creditUrl,    r.verification,
                                  ids.at(index),  r.nick,      r.regTime,      r.address};
        for (size_t i = 0; i < m_resultFields.size(); ++i)
            m_resultFields[i]->setText(values[i]);
    };
    BatchOptions options;
    options.jobs = m_settings.batchJobs;
    options.paceMs = m_settings.batchPaceMs;
    options.journal = m_journal.get();
    m_clock.start();
    m_runner->batch(idFile.ids, options, std::move(progress),
                    [this, total](const QList<LookupOutcome> &outcomes, bool cancelled) {
                        done(outcomes, cancelled, total);
                    });
}

void BatchFrontEnd::started(int total, const QString &id)
{
    // Counted here, not taken from the batch: with several buyers in flight the place of the
    // one starting is the number started, whatever has finished.
    if (++m_started == 1) // the configuration is there once the first buyer starts
        m_areaTableField->setPlainText(m_runner->service()->setup()->areaTable);
    m_batchIdField->setText(id);
    m_progressBar->setFormat(tr("第 %1 / %2 个").arg(m_started + m_journalled).arg(total));
    // The estimate counts the buyers this batch looked up, at the pace in use.
    const QString left = m_runner->service()->paceProgressText(
        m_clock.elapsed(), m_finishedRows, total - m_journalled - m_finishedRows);
    m_progressLine = batchProgressText(total, m_started + m_journalled, id) +
                     (left.isEmpty() ? QString() : QStringLiteral("，") + left);
    if (m_stops == 0 && !m_pauseTimer->isActive()) // once stopping, the line says so
        m_lines->showProgress(m_progressLine);
}

void BatchFrontEnd::paused(int seconds, const QString &why)
{
    if (!m_running || m_stops > 0)
        return;
    m_pauseEnd = QDateTime::currentDateTimeUtc().addSecs(seconds);
    m_stopButton->setToolTip(tr("市场要求验证（%1）；停止则立即写入已查到的买家").arg(why));
    showPause();
    m_pauseTimer->start();
}

void BatchFrontEnd::showPause()
{
    const qint64 left = QDateTime::currentDateTimeUtc().secsTo(m_pauseEnd);
    if (left <= 0 || !m_running || m_stops > 0) {
        m_pauseTimer->stop();
        m_stopButton->setToolTip(tr("查完正在查询的买家后停止，已查到的照样写入表格（Esc）"));
        if (m_running && m_stops == 0)
            m_lines->showProgress(m_progressLine);
        return;
    }
    m_lines->showProgress(batchPauseText(int(left)));
}

void BatchFrontEnd::done(const QList<LookupOutcome> &outcomes, bool cancelled, int total)
{
    m_pauseTimer->stop();
    // A cancellation the user did not ask for with the stop button is the window closing.
    if (m_abandoned || (cancelled && m_stops == 0)) {
        // No table for a batch they walked away from.
        end();
        return;
    }
    const bool stopped = m_stops > 0 && outcomes.size() < total;
    QString table;
    QString error;
    bool opened = false;
    QString staleText;
    std::array<int, 4> counts = {};
    if (!outcomes.isEmpty()) { // a batch stopped before any buyer finished has no table
        // The last line shows (painted now) while the table is written and the spreadsheet
        // program starts.
        m_lines->showProgress(batchDoneText(), true);
        BatchTableOptions options;
        options.extraColumns = m_settings.extraColumns;
        options.risk = m_settings.risk;
        // The window's table marks 高 and 未知 rows and sums the verdicts up on a second sheet.
        options.markRisk = options.summarySheet = true;
        options.orderColumns = m_orderFile;
        QList<BatchRow> rows = batchRows(outcomes);
        if (m_orderFile)
            addOrderColumns(&rows, m_orderBuyers);
        if (m_settings.sortByRisk)
            sortRowsByRisk(&rows);
        for (const BatchRow &row : std::as_const(rows)) {
            const auto &order = VerdictBar::order();
            ++counts[size_t(std::find(order.begin(), order.end(), row.risk) - order.begin())];
        }
        SellerDatabase *database = m_runner->service()->database();
        const QList<StaleField> stale = staleFieldsOfBatch(outcomes, database, m_began);
        if (!stale.isEmpty()) {
            staleText = staleRulesText(stale, configurationName(*m_runner->service()));
            options.warnings = {staleText};
        }
        int queued = 0;
        if (m_orderFile && database &&
            database->queueForReview(reviewEntriesOf(rows, QFileInfo(m_idFileName).fileName()),
                                     &queued) &&
            queued > 0)
            emit reviewQueueChanged();
        table = writeBatchSpreadsheetToTemp(rows, &error, options);
        if (!table.isEmpty()) {
            const QPointer<BatchFrontEnd> self(this);
            opened = m_openSpreadsheet ? m_openSpreadsheet(table) : openSpreadsheet(table);
            if (!self)
                return;
        }
    }
    // The table is written, or there was nothing to write: the journal goes (a table that could
    // not be written leaves it for the next start).
    if (m_journal && (!table.isEmpty() || outcomes.isEmpty()))
        m_journal->remove();
    m_journal.reset();
    end();
    m_summary->setText(summaryText(outcomes, stopped, total - outcomes.size()));
    m_summary->setToolTip(m_summary->text());
    m_summary->show();
    m_table = table;
    if (!table.isEmpty()) {
        // Said whether or not a program opened it: the table is in a temporary folder.
        m_tablePath->setText(tr("表格：%1").arg(QDir::toNativeSeparators(table)));
        m_tablePath->setToolTip(m_tablePath->text());
        m_tableRow->show();
    }
    const QRect line = m_summary->geometry();
    if (!outcomes.isEmpty()) {
        m_bar->setGeometry(line.x(), line.bottom() + 3, qMin(240, line.width()), 10);
        m_bar->setCounts(counts);
        m_bar->show();
    }
    if (!staleText.isEmpty()) {
        m_staleLine->setText(staleText);
        m_staleLine->setToolTip(staleText);
        m_staleLine->setGeometry(line.x(), line.bottom() + 16, line.width(),
                                 2 * m_staleLine->fontMetrics().lineSpacing() + 2);
        m_staleLine->show();
        emit staleRulesFound(staleText);
    }
    if (outcomes.isEmpty())
        return;
    if (table.isEmpty())
        tell(QStringLiteral("无法写入表格文件。\n") + error);
    else if (!opened)
        offerTable(table);
}

void BatchFrontEnd::end()
{
    m_lines->hideProgress();
    m_progressBar->hide();
    m_stopButton->hide();
    m_batchIdField->clear();
    m_running = false;
    emit finished();
}

void BatchFrontEnd::offerTable(const QString &path)
{
    // The temporary folder is cleared of old tables: the user keeps a copy where they choose.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, programTitle(),
                        tr("找不到可以打开表格的程序。\n表格暂存在临时文件夹中，一天后会被删除："
                           "请另存一份，或打开所在文件夹取走。\n%1")
                            .arg(QDir::toNativeSeparators(path)),
                        QMessageBox::NoButton, m_window);
    box->setTextFormat(Qt::PlainText);
    QPushButton *save = box->addButton(tr("另存为…"), QMessageBox::AcceptRole);
    QPushButton *folder = box->addButton(tr("打开所在文件夹"), QMessageBox::ActionRole);
    box->addButton(QMessageBox::Close);
    box->setDefaultButton(save);
    const QPointer<BatchFrontEnd> self(this);
    box->exec();
    QAbstractButton *clicked = box ? box->clickedButton() : nullptr;
    delete box;
    if (!self || !clicked)
        return;
    if (clicked == save) {
        saveTableCopy(path);
    } else if (clicked == folder) {
        openTableFolder();
    }
}

void BatchFrontEnd::saveTableCopy(const QString &table)
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        QDir(documents.isEmpty() ? QDir::homePath() : documents)
            .filePath(
                tr("批量查询_%1.xlsx")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmm"))));
    const QPointer<BatchFrontEnd> self(this);
    const QString target = chooseSaveFile(suggested);
    if (!self || target.isEmpty())
        return;
    QFile in(table);
    QString reason;
    bool saved = false;
    if (!in.open(QIODevice::ReadOnly)) {
        reason = in.errorString();
    } else {
        // The table is small (one batch's rows); the copy goes through the guard, so it never
        // replaces a folder, a device or one of the program's own files.
        const QByteArray bytes = in.readAll();
        SellerDatabase *database = m_runner->service()->database();
        saved = writeOutputFile(
            target, bytes, programFiles(database ? database->path() : QString(), {}, m_idFileName),
            &reason);
    }
    if (!saved)
        tell(tr("无法保存表格：\n%1\n%2").arg(QDir::toNativeSeparators(target), reason));
}
