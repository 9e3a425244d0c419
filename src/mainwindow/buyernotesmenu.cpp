#include "mainwindow/buyernotesmenu.h"

#include "storage/sellerdatabase.h"

#include <QDate>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>

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
    const BuyerNote note =
        m_database && !buyerId.isEmpty() ? m_database->note(buyerId) : BuyerNote();
    const bool writable = m_database && m_database->canWrite() && !buyerId.isEmpty();
    BuyerNotesMenu *self = this;
    QAction *add = menu->addAction(QStringLiteral("加入黑名单…"), self,
                                   [self, buyerId] { self->addToBlacklist(buyerId); });
    add->setEnabled(writable);
    QAction *edit = menu->addAction(QStringLiteral("备注…"), self,
                                    [self, buyerId] { self->editNote(buyerId); });
    edit->setEnabled(writable);
    QAction *remove = menu->addAction(QStringLiteral("移出黑名单"), self,
                                      [self, buyerId] { self->removeFromBlacklist(buyerId); });
    remove->setEnabled(writable && note.listed == ListMark::Blacklist);
    menu->addSeparator();
    QAction *history = menu->addAction(QStringLiteral("查询历史…"), self,
                                       [self, buyerId] { emit self->historyRequested(buyerId); });
    history->setEnabled(m_database && m_database->canRead());
    QAction *review = menu->addAction(QStringLiteral("待处理订单…"), self,
                                      [self] { emit self->reviewRequested(); });
    review->setEnabled(m_database && m_database->canRead());
    return menu;
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
    // A note is prose: its lines wrap at the box's edge rather than run off to the side.
    if (auto *edit = dialog->findChild<QPlainTextEdit *>())
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
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
