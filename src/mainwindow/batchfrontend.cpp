#include "mainwindow/batchfrontend.h"

#include "engine/batchengine.h"
#include "engine/buyerquery.h"
#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "lookup/backgroundjob.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/programtitle.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/spreadsheetopener.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>

#include <memory>

BatchFrontEnd::BatchFrontEnd(QWidget *window, BuyerQuery *query, const QuerySettings &settings,
                             const MainWindowLayout &layout, ResultLines *lines)
    : QObject(window), m_window(window), m_query(query), m_settings(settings), m_lines(lines),
      m_batchIdField(layout.batchIdField), m_resultFields(layout.resultFields),
      m_areaTableField(layout.areaTableField), m_job(new BackgroundJob(this))
{
}

BatchFrontEnd::~BatchFrontEnd()
{
    m_job->cancel();
    m_job->join();
}

void BatchFrontEnd::abandon()
{
    m_abandoned = true;
    m_job->cancel();
}

void BatchFrontEnd::join()
{
    m_job->cancel();
    m_job->join();
}

QString BatchFrontEnd::chooseIdFile()
{
    if (m_chooseIdFile)
        return m_chooseIdFile(m_window);
    // On the heap and watched: the window, and the dialog with it, may be deleted while it is
    // open.
    QPointer<QFileDialog> dialog = new QFileDialog(m_window, QStringLiteral("打开"), QString(),
                                                   QStringLiteral("关键词文件 (*.txt)"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
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
    box->exec();
    delete box;
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
    if (!isIdFileName(fileName) || m_abandoned) { // cancelled, or not a text file: nothing happens
        m_running = false;
        return;
    }
    const IdFileResult idFile = readIdFile(fileName, kMaxBatchIds, m_settings.idFileEncoding);
    if (!idFile.ok()) {
        m_running = false;
        tell(QStringLiteral("无法读取关键词文件。\n") + idFile.error);
        return;
    }

    emit busy();
    m_lines->beginBatch();

    BatchCallbacks callbacks;
    BuyerQuery *query = m_query;
    callbacks.started = [this, query](int finished, int total, const QString &id) {
        // The configuration is there once the first buyer starts.
        QString areaTable = finished == 0 ? query->areaTable() : QString();
        QMetaObject::invokeMethod(
            this,
            [this, text = batchProgressText(total, finished, id), id, areaTable] {
                if (!areaTable.isEmpty())
                    m_areaTableField->setPlainText(areaTable);
                m_lines->hide();
                m_batchIdField->setText(id);
                m_lines->showProgress(text);
            },
            Qt::QueuedConnection);
    };
    // The seller's database from the batch's workers (one call at a time): each lookup recorded
    // as it is done, the buyer's note kept for the table.
    auto notes = std::make_shared<QList<BuyerNote>>(idFile.ids.size());
    callbacks.done = [this, ids = idFile.ids, notes, database = m_database,
                      record = m_recordHistory](int index, const BuyerQueryResult &result) {
        if (database) {
            (*notes)[index] = database->note(result.record.buyerId);
            if (record)
                database->addLookup(result);
        }
        QMetaObject::invokeMethod(
            this,
            [this, id = ids.at(index), r = result.record] {
                const QString values[] = {r.goodRate,  r.goodCount,    r.neutralCount,
                                          r.badCount,  r.neutralGiven, r.badGiven,
                                          r.creditUrl, r.verification, id,
                                          r.nick,      r.regTime,      r.address};
                for (size_t i = 0; i < m_resultFields.size(); ++i)
                    m_resultFields[i]->setText(values[i]);
            },
            Qt::QueuedConnection);
    };
    BatchOptions options;
    options.jobs = m_settings.batchJobs;
    options.paceMs = m_settings.batchPaceMs;

    auto rows = std::make_shared<QList<BatchRow>>();
    auto cancelled = std::make_shared<bool>(false);
    m_job->start(
        [query, ids = idFile.ids, options, callbacks, rows, cancelled](const CancelToken &cancel) {
            *rows = runBatch(*query, ids, options, cancel, callbacks, cancelled.get());
        },
        [this, rows, cancelled, notes] {
            for (qsizetype i = 0; i < rows->size() && i < notes->size(); ++i)
                applySellerNote(&(*rows)[i], notes->at(i));
            finish(*rows, *cancelled || m_abandoned);
        });
}

void BatchFrontEnd::end()
{
    m_lines->hideProgress();
    m_batchIdField->clear();
    m_running = false;
    emit finished();
}

void BatchFrontEnd::finish(const QList<BatchRow> &rows, bool abandoned)
{
    if (abandoned) {
        // The user closed the window: no table for a batch they walked away from.
        end();
        return;
    }
    // The last line shows (painted now) while the table is written and the spreadsheet program
    // starts.
    m_lines->showProgress(batchDoneText(), true);

    QString error;
    BatchTableOptions options;
    options.extraColumns = m_settings.extraColumns;
    options.risk = m_settings.risk;
    const QString table = writeBatchSpreadsheetToTemp(rows, &error, options);
    QString failure;
    if (table.isEmpty()) {
        failure = QStringLiteral("无法写入表格文件。\n") + error;
    } else {
        const QPointer<BatchFrontEnd> self(this);
        const bool opened = m_openSpreadsheet ? m_openSpreadsheet(table) : openSpreadsheet(table);
        if (!self)
            return;
        if (!opened)
            failure = QStringLiteral("找不到可以打开表格的程序。表格已保存在:\n") +
                      QDir::toNativeSeparators(table);
    }
    end();
    if (!failure.isEmpty())
        tell(failure);
}
