#include "mainwindow/reviewdialog.h"

#include "model/ordernumber.h"
#include "storage/sellerdatabase.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

ReviewDialog::ReviewDialog(SellerDatabase *database, QWidget *parent)
    : QDialog(parent), m_database(database)
{
    setObjectName(QStringLiteral("ReviewDialog"));
    setWindowTitle(tr("待处理的高风险订单"));
    resize(760, 360);

    const QStringList headers{tr("订单编号"), tr("买家"), tr("原因"), tr("来源"), tr("时间")};
    m_table = new QTableWidget(0, int(headers.size()), this);
    m_table->setObjectName(QStringLiteral("ReviewTable"));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("ReviewCount"));
    auto *buttons = new QDialogButtonBox(this);
    m_handled = buttons->addButton(tr("已处理…"), QDialogButtonBox::ActionRole);
    m_handled->setObjectName(QStringLiteral("ReviewHandled"));
    m_handled->setToolTip(tr("把选中的订单标记为已处理（可附备注）；它们仍留在查询历史里"));
    buttons->addButton(tr("关闭"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_handled, &QPushButton::clicked, this, &ReviewDialog::markSelectedHandled);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        m_handled->setEnabled(!m_table->selectionModel()->selectedRows().isEmpty() && m_database &&
                              m_database->canWrite());
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_count);
    layout->addWidget(buttons);
    refresh();
}

void ReviewDialog::refresh()
{
    const QList<ReviewEntry> entries =
        m_database ? m_database->reviewQueue() : QList<ReviewEntry>();
    m_table->clearContents();
    m_table->setRowCount(int(entries.size()));
    for (int r = 0; r < entries.size(); ++r) {
        const ReviewEntry &e = entries.at(r);
        const QString values[] = {shownOrderNumber(e.orderNumber), e.buyerId,
                                  e.reasons.join(QStringLiteral("；")), e.source,
                                  e.queued.toString(QStringLiteral("yyyy-MM-dd HH:mm"))};
        for (int c = 0; c < int(std::size(values)); ++c) {
            auto *item = new QTableWidgetItem(values[c]);
            item->setToolTip(values[c]);
            if (c == 0)
                item->setData(Qt::UserRole, e.rowId);
            m_table->setItem(r, c, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_count->setText(entries.isEmpty() ? tr("没有等待处理的订单")
                                       : tr("%1 个订单等待处理").arg(entries.size()));
    m_handled->setEnabled(false);
}

void ReviewDialog::markSelectedHandled()
{
    QList<qint64> ids;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        ids.append(m_table->item(index.row(), 0)->data(Qt::UserRole).toLongLong());
    if (ids.isEmpty() || !m_database)
        return;
    QString note;
    const QPointer<ReviewDialog> self(this);
    bool ok = false;
    if (m_prompt) {
        ok = m_prompt(this, &note);
    } else {
        note = QInputDialog::getText(this, tr("已处理"), tr("备注（可不填）："), QLineEdit::Normal,
                                     QString(), &ok);
    }
    if (!self || !ok)
        return;
    bool failed = false;
    for (qint64 id : ids)
        failed = !m_database->markReviewed(id, note.trimmed()) || failed;
    refresh();
    emit queueChanged();
    if (failed && !m_database->problem().isEmpty())
        QMessageBox::warning(this, windowTitle(), m_database->problem());
}
