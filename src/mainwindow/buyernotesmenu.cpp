#include "mainwindow/buyernotesmenu.h"

#include "mainwindow/blacklistfiles.h"

#include "storage/sellerdatabase.h"

#include <QDate>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QShortcut>

BuyerNotesMenu::BuyerNotesMenu(SellerDatabase *database, QWidget *host)
    : QObject(host), m_database(database), m_host(host)
{
}

void BuyerNotesMenu::setTextPrompt(TextPrompt prompt)
{
    m_prompt = std::move(prompt);
}

QMenu *BuyerNotesMenu::menuFor(const QString &buyerId, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("BuyerNotesMenu"));
    addActions(menu, buyerId);
    return menu;
}

void BuyerNotesMenu::addActions(QMenu *menu, const QString &buyerId)
{
    const BuyerNote note =
        m_database && !buyerId.isEmpty() ? m_database->note(buyerId) : BuyerNote();
    const bool writable = m_database && m_database->canWrite() && !buyerId.isEmpty();
    BuyerNotesMenu *self = this;
    QAction *add = menu->addAction(tr("加入黑名单…"), self,
                                   [self, buyerId] { self->addToBlacklist(buyerId); });
    add->setEnabled(writable);
    QAction *edit =
        menu->addAction(tr("备注…"), self, [self, buyerId] { self->editNote(buyerId); });
    edit->setEnabled(writable);
    QAction *remove = menu->addAction(tr("移出黑名单"), self,
                                      [self, buyerId] { self->removeFromBlacklist(buyerId); });
    remove->setEnabled(writable && note.listed == ListMark::Blacklist);
    QAction *trust =
        menu->addAction(tr("信任"), self, [self, buyerId] { self->toggleTrusted(buyerId); });
    trust->setCheckable(true);
    trust->setChecked(note.listed == ListMark::Trusted);
    trust->setEnabled(writable);
    menu->addSeparator();
    QAction *history = menu->addAction(tr("查询历史…"), self,
                                       [self, buyerId] { emit self->historyRequested(buyerId); });
    history->setEnabled(m_database && m_database->canRead());
    QAction *review =
        menu->addAction(tr("待处理订单…"), self, [self] { emit self->reviewRequested(); });
    review->setEnabled(m_database && m_database->canRead());
    menu->addSeparator();
    QAction *import = menu->addAction(tr("导入黑名单…"), self, [self, buyerId] {
        if (importBlacklistFile(self->m_host, self->m_database) && !buyerId.isEmpty())
            emit self->noteChanged(buyerId); // the buyer shown may be on the list now
    });
    import->setObjectName(QStringLiteral("ImportBlacklistAction"));
    import->setEnabled(m_database && m_database->canWrite());
    QAction *exportList = menu->addAction(
        tr("导出黑名单…"), self, [self] { exportBlacklistFile(self->m_host, self->m_database); });
    exportList->setObjectName(QStringLiteral("ExportBlacklistAction"));
    exportList->setEnabled(m_database && m_database->canRead());
}

bool BuyerNotesMenu::ask(const QString &title, const QString &label, bool multiLine, QString *text)
{
    if (m_prompt)
        return m_prompt(m_host, title, label, multiLine, text);
    const QPointer<QWidget> host(m_host);
    QPointer<QInputDialog> dialog = new QInputDialog(m_host);
    dialog->setWindowTitle(title);
    dialog->setLabelText(label);
    dialog->setOption(QInputDialog::UsePlainTextEditForTextInput, multiLine);
    dialog->setTextValue(*text);
    // Enter is a new line in a note: Ctrl+Enter confirms, in either box.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto *confirm = new QShortcut(keys, dialog.data());
        connect(confirm, &QShortcut::activated, dialog.data(), &QDialog::accept);
    }
    // A note is prose: its lines wrap at the box's edge rather than run off to the side.
    if (auto *edit = dialog->findChild<QPlainTextEdit *>())
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The box is named by what it asks for.
    for (QWidget *box : dialog->findChildren<QWidget *>()) {
        if (qobject_cast<QPlainTextEdit *>(box) || qobject_cast<QLineEdit *>(box))
            box->setAccessibleName(title);
    }
    const bool ok = dialog->exec() == QDialog::Accepted;
    if (!host || !dialog) {
        delete dialog;
        return false;
    }
    const QString answer = dialog->textValue();
    delete dialog;
    if (!ok)
        return false;
    *text = answer;
    return true;
}

void BuyerNotesMenu::save(const QString &buyerId, const std::function<void(BuyerNote &)> &change)
{
    BuyerNote note = m_database->note(buyerId);
    change(note);
    if (!m_database->saveNote(note)) {
        QMessageBox::warning(m_host, QStringLiteral("Brelvon"),
                             QStringLiteral("无法保存：%1").arg(m_database->problem()));
        return;
    }
    emit noteChanged(buyerId);
}

void BuyerNotesMenu::addToBlacklist(const QString &buyerId)
{
    if (!m_database || buyerId.isEmpty())
        return;
    QString reason = m_database->note(buyerId).reason;
    if (!ask(QStringLiteral("加入黑名单"), QStringLiteral("把 %1 加入黑名单，原因：").arg(buyerId),
             false, &reason))
        return;
    save(buyerId, [&](BuyerNote &n) {
        n.listed = ListMark::Blacklist;
        n.reason = reason.trimmed();
        n.listedOn = QDate::currentDate();
    });
}

void BuyerNotesMenu::editNote(const QString &buyerId)
{
    if (!m_database || buyerId.isEmpty())
        return;
    QString text = m_database->note(buyerId).note;
    if (!ask(QStringLiteral("备注"), QStringLiteral("对 %1 的备注：").arg(buyerId), true, &text))
        return;
    save(buyerId, [&](BuyerNote &n) { n.note = text.trimmed(); });
}

void BuyerNotesMenu::toggleTrusted(const QString &buyerId)
{
    if (!m_database || buyerId.isEmpty())
        return;
    // Trust and the blacklist exclude each other: trusting a listed buyer takes the mark off.
    save(buyerId, [](BuyerNote &n) {
        const bool trusted = n.listed == ListMark::Trusted;
        n.listed = trusted ? ListMark::None : ListMark::Trusted;
        n.reason.clear();
        n.listedOn = QDate();
    });
}

void BuyerNotesMenu::removeFromBlacklist(const QString &buyerId)
{
    if (!m_database || buyerId.isEmpty())
        return;
    save(buyerId, [](BuyerNote &n) {
        n.listed = ListMark::None;
        n.reason.clear();
        n.listedOn = QDate();
    });
}
