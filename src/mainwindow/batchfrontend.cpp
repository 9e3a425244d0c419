#include "mainwindow/batchfrontend.h"

#include "files/batchjournal.h"
#include "files/idfile.h"
#include "files/outputguard.h"
#include "lookup/batchrun.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/programtitle.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/spreadsheetopener.h"
#include "mainwindow/verdictbar.h"
#include "storage/sellerdatabase.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <array>
#include <memory>

BatchFrontEnd::BatchFrontEnd(QWidget *window, LookupService *service, const QuerySettings &settings,
                             const MainWindowLayout &layout, ResultLines *lines)
    : QObject(window), m_window(window), m_settings(settings), m_lines(lines),
      m_batchIdField(layout.batchIdField), m_resultFields(layout.resultFields),
      m_areaTableField(layout.areaTableField), m_progressBar(layout.batchProgress),
      m_stopButton(layout.batchStop), m_summary(layout.batchSummary), m_tableRow(layout.batchTable),
      m_tablePath(layout.batchTablePath), m_service(service), m_pauseTimer(new QTimer(this))
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
    keepBatchEndInColumn(m_summary, m_bar, m_tableRow, m_staleLine);
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
    if (m_run)
        m_run->cancel();
}

void BatchFrontEnd::join()
{
    if (m_run) {
        m_run->cancel();
        m_run->join();
    }
}

void BatchFrontEnd::stop()
{
    if (!m_running || !m_run || !m_run->isRunning())
        return;
    ++m_stops;
    if (m_stops > 1 || m_started == 0 || m_pauseTimer->isActive()) {
        // Before the first buyer only the configuration's download runs, a second stop says the
        // user will not wait for the buyers in flight, and during a pause they would wait for
        // the marketplace: each ends at once.
        m_pauseTimer->stop();
        m_run->stopNow();
        m_stopButton->setEnabled(false);
        return;
    }
    m_run->stop();
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
    // The system's association first, then a spreadsheet program found in PATH.
    const bool opened = m_openSpreadsheet ? m_openSpreadsheet(m_table) : openSpreadsheet(m_table);
    if (self && !opened)
        tellPath(tr("找不到可以打开表格的程序：\n%1\n请另存一份，或打开所在文件夹取走。")
                     .arg(QDir::toNativeSeparators(m_table)),
                 m_table);
}

void BatchFrontEnd::openTableFolder()
{
    if (m_table.isEmpty())
        return;
    const QString dir = QFileInfo(m_table).absolutePath();
    if (!openWithSystem(dir))
        tellPath(tr("找不到可以打开文件夹的程序：\n%1").arg(QDir::toNativeSeparators(dir)), dir);
}

void BatchFrontEnd::tellPath(const QString &text, const QString &path)
{
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, programTitle(), text, QMessageBox::Ok, m_window);
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton *copy = box->addButton(tr("复制路径"), QMessageBox::ActionRole);
    copy->setObjectName(QStringLiteral("CopyPathButton"));
    fitTitle(box);
    box->exec();
    if (box && box->clickedButton() == copy)
        QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(path));
    delete box;
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
                        tr("所有支持的文件 (*.txt *.csv *.xlsx);;买家ID列表 (*.txt);;"
                           "订单导出 (*.csv *.xlsx)"));
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
    BatchRequest request;
    request.inputPath = fileName;
    request.input.maxIds = m_settings.batchMaxIds;
    request.input.encoding = m_settings.idFileEncoding;
    request.input.buyerColumn = m_settings.buyerColumn;
    request.options.jobs = m_settings.batchJobs;
    request.options.paceMs = m_settings.batchPaceMs;
    // The window's table goes to the temporary folder, marks 高 and 未知 rows and sums the
    // verdicts up on a second sheet.
    request.xlsxInTemp = true;
    request.markRisk = true;
    request.extraColumns = m_settings.extraColumns;
    request.sortByRisk = m_settings.sortByRisk;
    request.journalPath = m_journalPath;
    request.resume = resume;
    m_idFileName = fileName;
    m_stops = 0;
    m_started = 0;
    m_finishedRows = 0;
    m_journalled = 0;
    if (m_run)
        m_run->deleteLater(); // ended: its last signal may still be on the stack
    // The input is read on the service's threads: a large export leaves the window free.
    m_run = new BatchRun(m_service, m_service->database(), request, this);
    connect(m_run, &BatchRun::inputRead, this, &BatchFrontEnd::inputRead);
    connect(m_run, &BatchRun::buyerStarted, this,
            [this](int, int total, const QString &id) { started(total, id); });
    connect(m_run, &BatchRun::paused, this, &BatchFrontEnd::paused);
    connect(m_run, &BatchRun::buyerFinished, this, [this](int, const LookupOutcome &outcome) {
        m_progressBar->setValue(m_journalled + ++m_finishedRows);
        const BuyerCreditRecord &r = outcome.result.record;
        const QString values[] = {r.goodRate,     r.goodCount, r.neutralCount, r.badCount,
                                  r.neutralGiven, r.badGiven,  r.creditUrl,    r.verification,
                                  outcome.id,     r.nick,      r.regTime,      r.address};
        for (size_t i = 0; i < m_resultFields.size(); ++i)
            m_resultFields[i]->setText(values[i]);
    });
    connect(m_run, &BatchRun::finished, this, &BatchFrontEnd::done);
    m_run->start();
}

void BatchFrontEnd::inputRead(const BatchStart &start)
{
    const QPointer<BatchFrontEnd> self(this);
    if (m_abandoned)
        return m_run->abandon();
    if (start.total == 0) {
        // Nothing to look up and nothing to write: an empty table would only puzzle.
        m_run->abandon();
        tell(tr("文件中没有买家ID：\n%1").arg(QDir::toNativeSeparators(m_idFileName)));
        return;
    }
    if (start.leftOut > 0) {
        const bool go = confirm(tr("文件中有%1个买家ID，一次最多查询%2个。\n"
                                   "只查询前%2个，后面的%3个不会查询。")
                                    .arg(start.total + start.leftOut)
                                    .arg(start.total)
                                    .arg(start.leftOut));
        if (!self)
            return;
        if (!go || m_abandoned)
            return m_run->abandon();
    }
    m_journalled = start.journalled;
    m_lookingUp = true;
    emit busy();
    clearSummary();
    m_lines->hide();
    m_lines->beginBatch();
    m_lines->showProgress(QString());
    m_progressBar->setRange(0, start.total);
    m_progressBar->setValue(m_journalled);
    m_progressBar->setFormat(tr("正在准备…"));
    m_progressBar->show();
    m_stopButton->setText(tr("停止"));
    m_stopButton->setToolTip(tr("查完正在查询的买家后停止，已查到的照样写入表格（Esc）"));
    m_stopButton->setEnabled(true);
    m_stopButton->show();
    m_clock.start();
    m_run->lookUp();
}

void BatchFrontEnd::started(int total, const QString &id)
{
    // Counted here, not taken from the batch: with several buyers in flight the place of the
    // one starting is the number started, whatever has finished.
    if (++m_started == 1) // the configuration is there once the first buyer starts
        m_areaTableField->setPlainText(m_service->setup()->areaTable);
    m_batchIdField->setText(id);
    m_progressBar->setFormat(tr("第 %1 / %2 个").arg(m_started + m_journalled).arg(total));
    // The estimate counts the buyers this batch looked up, at the pace in use.
    const QString left = m_service->paceProgressText(m_clock.elapsed(), m_finishedRows,
                                                     total - m_journalled - m_finishedRows);
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

void BatchFrontEnd::done(const BatchRunOutcome &outcome)
{
    using End = BatchRunOutcome::End;
    m_pauseTimer->stop();
    if (outcome.end == End::Refused) {
        // A batch refused while reading its input never showed its progress.
        m_running = false;
        if (m_lookingUp)
            end();
        tell(outcome.inputUnreadable && !outcome.start.orderFile
                 ? QStringLiteral("无法读取关键词文件。\n") + outcome.refusal
                 : outcome.refusal);
        return;
    }
    // A cancellation is the window closing, or the batch abandoned before its lookups: no table
    // for a batch they walked away from.
    if (m_abandoned || outcome.end == End::Cancelled) {
        if (m_lookingUp)
            end();
        m_running = false;
        return;
    }
    const bool stopped = outcome.end == End::Stopped || outcome.end == End::GaveUp;
    const QString table = outcome.written.isEmpty() ? QString() : outcome.written.first();
    bool opened = false;
    std::array<int, 4> counts = {};
    for (const BatchRow &row : outcome.rows) {
        const auto &order = VerdictBar::order();
        ++counts[size_t(std::find(order.begin(), order.end(), row.risk) - order.begin())];
    }
    if (outcome.queued > 0)
        emit reviewQueueChanged();
    if (!table.isEmpty()) {
        // The last line shows (painted now) while the spreadsheet program starts.
        m_lines->showProgress(batchDoneText(), true);
        const QPointer<BatchFrontEnd> self(this);
        opened = m_openSpreadsheet ? m_openSpreadsheet(table) : openSpreadsheet(table);
        if (!self)
            return;
    }
    end();
    m_summary->setText(summaryText(outcome.outcomes, stopped, outcome.notQueried));
    m_summary->setToolTip(m_summary->text());
    m_summary->show();
    m_table = table;
    if (!table.isEmpty()) {
        // Said whether or not a program opened it: the table is in a temporary folder.
        m_tablePath->setText(tr("表格：%1").arg(QDir::toNativeSeparators(table)));
        m_tablePath->setToolTip(m_tablePath->text());
        m_tableRow->show();
    }
    if (!outcome.rows.isEmpty()) {
        m_bar->setCounts(counts);
        m_bar->show();
    }
    if (!outcome.staleText.isEmpty()) {
        m_staleLine->setText(outcome.staleText);
        m_staleLine->setToolTip(outcome.staleText);
        m_staleLine->show();
        emit staleRulesFound(outcome.staleText);
    }
    // Every write that failed is named (the table, the review queue, the journal).
    if (!outcome.problems.isEmpty())
        tell((table.isEmpty() && !outcome.rows.isEmpty() ? QStringLiteral("无法写入表格文件。\n")
                                                         : QString()) +
             outcome.problems.join(u'\n'));
    if (!table.isEmpty() && !opened)
        offerTable(table);
}

void BatchFrontEnd::end()
{
    m_lines->hideProgress();
    m_progressBar->hide();
    m_stopButton->hide();
    m_batchIdField->clear();
    m_running = false;
    m_lookingUp = false;
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
    QPushButton *copy = box->addButton(tr("复制路径"), QMessageBox::ActionRole);
    copy->setObjectName(QStringLiteral("CopyPathButton"));
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
    } else if (clicked == copy) {
        QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(path));
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
        SellerDatabase *database = m_service->database();
        saved = writeOutputFile(
            target, bytes, programFiles(database ? database->path() : QString(), {}, m_idFileName),
            &reason);
    }
    if (!saved)
        tell(tr("无法保存表格：\n%1\n%2").arg(QDir::toNativeSeparators(target), reason));
}
