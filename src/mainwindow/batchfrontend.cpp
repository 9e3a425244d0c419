#include "mainwindow/batchfrontend.h"

#include "files/idfile.h"
#include "files/spreadsheetexport.h"
#include "lookup/lookuprunner.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/programtitle.h"
#include "mainwindow/resultlines.h"
#include "mainwindow/spreadsheetopener.h"
#include "storage/historytext.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>

#include <memory>

BatchFrontEnd::BatchFrontEnd(QWidget *window, LookupService *service, const QuerySettings &settings,
                             const MainWindowLayout &layout, ResultLines *lines)
    : QObject(window), m_window(window), m_settings(settings), m_lines(lines),
      m_batchIdField(layout.batchIdField), m_resultFields(layout.resultFields),
      m_areaTableField(layout.areaTableField), m_runner(new LookupRunner(service, this))
{
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

    LookupRunner::BatchProgress progress;
    LookupService *service = m_runner->service();
    progress.started = [this, service](int finished, int total, const QString &id) {
        // The configuration is there once the first buyer starts.
        if (finished == 0)
            m_areaTableField->setPlainText(service->setup()->areaTable);
        m_lines->hide();
        m_batchIdField->setText(id);
        m_lines->showProgress(batchProgressText(total, finished, id));
    };
    progress.finished = [this, ids = idFile.ids](int index, const LookupOutcome &outcome) {
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
    m_runner->batch(idFile.ids, options, std::move(progress),
                    [this](const QList<LookupOutcome> &outcomes, bool cancelled) {
                        finish(batchRows(outcomes), cancelled || m_abandoned);
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
