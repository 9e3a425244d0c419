#include "mainwindow/historydialog.h"
#include "files/historycsv.h"

#include "files/outputguard.h"
#include "files/querysettings.h"
#include "files/spreadsheetexport.h"
#include "model/buyerassessment.h"
#include "storage/historytext.h"
#include "storage/sellerdatabase.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
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

    QStringList headers{QStringLiteral("查询时间")};
    headers += batchTableHeaders().mid(0, 11); // the link column would only repeat the address
    headers += {tr("风险"), tr("标记")};
    m_table = new QTableWidget(0, int(headers.size()), this);
    m_table->setObjectName(QStringLiteral("HistoryTable"));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("HistoryCount"));
    auto *buttons = new QDialogButtonBox(this);
    m_export = buttons->addButton(QStringLiteral("导出CSV…"), QDialogButtonBox::ActionRole);
    m_export->setObjectName(QStringLiteral("HistoryExport"));
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_export, &QPushButton::clicked, this, &HistoryDialog::exportCsv);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_filter);
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
}
