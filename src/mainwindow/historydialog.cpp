#include "mainwindow/historydialog.h"

#include "files/historycsv.h"
#include "mainwindow/blacklistfiles.h"

#include "files/outputguard.h"
#include "files/querysettings.h"
#include "files/spreadsheetexport.h"
#include "model/buyerassessment.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <iterator>

HistoryDialog::HistoryDialog(SellerDatabase *database, const QString &filter, QWidget *parent,
                             const RiskSettings &risk)
    : QDialog(parent), m_database(database), m_risk(risk)
{
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QStringLiteral("查询历史"));
    resize(900, 420);

    m_filter = new QLineEdit(filter, this);
    m_filter->setObjectName(QStringLiteral("HistoryFilter"));
    m_filter->setPlaceholderText(QStringLiteral("按买家ID或昵称筛选"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(tr("筛选"));
    for (QToolButton *clear : m_filter->findChildren<QToolButton *>())
        clear->setAccessibleName(tr("清除筛选"));
    // A span of days, off until the seller ticks it.
    m_byDate = new QCheckBox(tr("按日期："), this);
    m_byDate->setObjectName(QStringLiteral("HistoryByDate"));
    const QDate today = QDate::currentDate();
    m_from = new QDateEdit(today.addDays(-30), this);
    m_from->setObjectName(QStringLiteral("HistoryFrom"));
    m_from->setAccessibleName(tr("开始日期"));
    m_to = new QDateEdit(today, this);
    m_to->setObjectName(QStringLiteral("HistoryTo"));
    m_to->setAccessibleName(tr("结束日期"));
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setEnabled(false);
        connect(edit, &QDateEdit::dateChanged, this, &HistoryDialog::refresh);
    }
    connect(m_byDate, &QCheckBox::toggled, this, [this](bool on) {
        m_from->setEnabled(on);
        m_to->setEnabled(on);
        refresh();
    });

    QStringList headers{QStringLiteral("查询时间")};
    headers += batchTableHeaders().mid(0, 11); // the link column would only repeat the address
    headers += {tr("风险"), tr("标记")};
    m_table = new QTableWidget(0, int(headers.size()), this);
    m_table->setObjectName(QStringLiteral("HistoryTable"));
    m_table->setAccessibleName(tr("查询历史"));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setToolTip(tr("双击一行重新查询该买家"));
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (QTableWidgetItem *id = m_table->item(row, 1); id && !id->text().isEmpty()) {
            const QString buyerId = id->text();
            // Out of the way of the result, which the window shows; the lookup is in the list
            // the next time it opens.
            close();
            emit lookUpAgain(buyerId);
        }
    });

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("HistoryCount"));
    auto *buttons = new QDialogButtonBox(this);
    m_export = buttons->addButton(QStringLiteral("导出CSV…"), QDialogButtonBox::ActionRole);
    m_export->setObjectName(QStringLiteral("HistoryExport"));
    m_delete = buttons->addButton(tr("删除…"), QDialogButtonBox::ActionRole);
    m_delete->setObjectName(QStringLiteral("HistoryDelete"));
    m_delete->setEnabled(false);
    connect(m_delete, &QPushButton::clicked, this, &HistoryDialog::deleteSelected);
    QPushButton *importList = buttons->addButton(tr("导入黑名单…"), QDialogButtonBox::ActionRole);
    importList->setObjectName(QStringLiteral("HistoryImportBlacklist"));
    importList->setEnabled(m_database && m_database->canWrite());
    connect(importList, &QPushButton::clicked, this, [this] {
        if (importBlacklistFile(this, m_database))
            refresh(); // the marks column
    });
    QPushButton *exportList = buttons->addButton(tr("导出黑名单…"), QDialogButtonBox::ActionRole);
    exportList->setObjectName(QStringLiteral("HistoryExportBlacklist"));
    exportList->setEnabled(m_database && m_database->canRead());
    connect(exportList, &QPushButton::clicked, this,
            [this] { exportBlacklistFile(this, m_database); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        m_delete->setEnabled(m_database && m_database->canWrite() &&
                             m_table->selectionModel()->hasSelection());
    });
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_export, &QPushButton::clicked, this, &HistoryDialog::exportCsv);

    auto *layout = new QVBoxLayout(this);
    auto *filters = new QHBoxLayout;
    filters->addWidget(m_filter, 1);
    filters->addWidget(m_byDate);
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("—"), this));
    filters->addWidget(m_to);
    layout->addLayout(filters);
    layout->addWidget(m_table);
    layout->addWidget(m_count);
    layout->addWidget(buttons);

    // A search runs through every lookup: once the typing pauses, not at every key.
    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(250);
    connect(m_typing, &QTimer::timeout, this, &HistoryDialog::refresh);
    connect(m_filter, &QLineEdit::textChanged, m_typing, qOverload<>(&QTimer::start));
    refresh();
}

void HistoryDialog::setSaveFileChooser(SaveFileChooser chooser)
{
    m_chooseFile = std::move(chooser);
}

HistoryFilter HistoryDialog::filter() const
{
    HistoryFilter f;
    f.text = m_filter->text().trimmed();
    if (m_byDate->isChecked()) {
        // Local days; a span given backwards is read the right way round.
        const QDate from = qMin(m_from->date(), m_to->date());
        const QDate to = qMax(m_from->date(), m_to->date());
        f.since = from.startOfDay();
        f.until = to.addDays(1).startOfDay();
    }
    return f;
}

void HistoryDialog::refresh()
{
    m_typing->stop();
    HistoryFilter f = filter();
    f.limit = kShownLookups + 1; // one more tells whether there are more
    f.withPages = false;
    QList<StoredLookup> lookups = m_database ? m_database->history(f) : QList<StoredLookup>();
    const bool more = lookups.size() > kShownLookups;
    if (more)
        lookups.removeLast();

    // The seller's marks as they stand now: a buyer blacklisted since is high risk in every row.
    QHash<QString, BuyerNote> notes;
    if (m_database && !lookups.isEmpty()) {
        for (const BuyerNote &note : m_database->notes())
            notes.insert(note.buyerId, note);
    }
    const QDate today = QDate::currentDate();

    m_table->setRowCount(0);
    m_table->setRowCount(int(lookups.size()));
    for (int row = 0; row < int(lookups.size()); ++row) {
        const StoredLookup &l = lookups.at(row);
        const BuyerCreditRecord &r = l.record;
        const QString values[] = {l.time.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                  r.buyerId,
                                  r.nick,
                                  r.regTime,
                                  r.address,
                                  r.verification,
                                  r.goodRate,
                                  r.goodCount,
                                  r.neutralCount,
                                  r.badCount,
                                  r.neutralGiven,
                                  r.badGiven};
        int column = 0;
        for (; column < int(std::size(values)); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(values[column]));
        m_table->item(row, 0)->setData(Qt::UserRole, l.rowId);
        const BuyerNote note = notes.value(r.buyerId);
        const SellerNotes seller = sellerNotes(note);
        BuyerQueryResult result;
        result.record = r;
        const RiskVerdict risk = assessBuyer(result, m_risk, today, &seller).risk;
        auto *riskItem = new QTableWidgetItem(riskLevelText(risk.level));
        riskItem->setToolTip(risk.reasons.join(u'\n'));
        if (risk.level == RiskLevel::High)
            riskItem->setForeground(QColor(0xD0, 0x00, 0x00));
        m_table->setItem(row, column++, riskItem);
        const QString mark = note.listed == ListMark::Trusted ? tr("信任") : blacklistMark(note);
        auto *markItem = new QTableWidgetItem(mark);
        markItem->setToolTip(QStringList{mark, note.note}.join(u'\n').trimmed());
        m_table->setItem(row, column, markItem);
    }
    m_table->resizeColumnsToContents();

    QString count = lookups.isEmpty() ? QStringLiteral("没有查询记录")
                    : more ? QStringLiteral("显示最近的%1条查询").arg(kShownLookups)
                           : QStringLiteral("共%1条查询").arg(lookups.size());
    if (m_database && !m_database->problem().isEmpty())
        count += QStringLiteral("（%1）").arg(m_database->problem());
    m_count->setText(count);
    m_export->setEnabled(!lookups.isEmpty());
}

bool HistoryDialog::exportTo(const QString &path, QString *error) const
{
    const QByteArray csv =
        historyCsv(m_database ? m_database->history(filter()) : QList<StoredLookup>());
    // Never over the database or the settings, whatever name the user picked.
    return writeOutputFile(
        path, csv, programFiles(m_database ? m_database->path() : QString(), defaultSettingsPath()),
        error);
}

void HistoryDialog::setDays(const QDate &from, const QDate &to)
{
    const bool on = from.isValid() && to.isValid();
    const QSignalBlocker quiet(m_byDate);
    if (on) {
        const QSignalBlocker quietFrom(m_from);
        const QSignalBlocker quietTo(m_to);
        m_from->setDate(from);
        m_to->setDate(to);
    }
    m_byDate->setChecked(on);
    m_from->setEnabled(on);
    m_to->setEnabled(on);
    refresh();
}

void HistoryDialog::deleteSelected()
{
    QList<qint64> rowIds;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rowIds.append(m_table->item(index.row(), 0)->data(Qt::UserRole).toLongLong());
    if (!m_database || rowIds.isEmpty())
        return;
    const QPointer<HistoryDialog> self(this);
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, windowTitle(),
                        tr("删除选中的%1条查询记录？删除后不能恢复。").arg(rowIds.size()),
                        QMessageBox::Yes | QMessageBox::Cancel, this);
    box->setDefaultButton(QMessageBox::Cancel);
    const bool yes = box->exec() == QMessageBox::Yes;
    delete box;
    if (!self || !yes)
        return;
    if (!m_database->removeLookups(rowIds))
        QMessageBox::warning(this, windowTitle(), tr("无法删除：%1").arg(m_database->problem()));
    refresh();
}

void HistoryDialog::exportCsv()
{
    const QPointer<HistoryDialog> self(this);
    QString path;
    if (m_chooseFile) {
        path = m_chooseFile(this);
    } else {
        const QString suggested = QDir::home().filePath(QStringLiteral("查询历史.csv"));
        path = QFileDialog::getSaveFileName(this, QStringLiteral("导出查询历史"), suggested,
                                            QStringLiteral("CSV 文件 (*.csv)"));
    }
    if (!self || path.isEmpty())
        return;
    QString error;
    if (!exportTo(path, &error))
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("无法写入 %1：\n%2").arg(QDir::toNativeSeparators(path), error));
    else
        QMessageBox::information(this, windowTitle(),
                                 tr("查询历史已导出到：\n%1").arg(QDir::toNativeSeparators(path)));
}
