#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMenu;
class QWidget;
class SellerDatabase;
struct BuyerNote;

// The result area's context menu: the seller's own note and blacklist mark on the buyer shown,
// and the lookup history. Everything is written to the seller's database at once.
class BuyerNotesMenu : public QObject
{
    Q_OBJECT
public:
    // host: the window the menu and its questions belong to.
    BuyerNotesMenu(SellerDatabase *database, QWidget *host);

    // Asks the user for a text (a single line, or several), starting from *text; false when
    // cancelled. The default is QInputDialog; tests replace it.
    using TextPrompt = std::function<bool(QWidget *parent, const QString &title,
                                          const QString &label, bool multiLine, QString *text)>;
    void setTextPrompt(TextPrompt prompt);

    // The menu for a buyer ("" when none is shown: only the history can be opened). Owned by
    // the caller.
    QMenu *menuFor(const QString &buyerId, QWidget *parent);

    // The menu's actions.
    void addToBlacklist(const QString &buyerId);
    void editNote(const QString &buyerId);
    void removeFromBlacklist(const QString &buyerId);

signals:
    // The buyer's note or mark has been saved.
    void noteChanged(const QString &buyerId);
    // "查询历史…": the history dialog, filtered by the buyer when one is shown.
    void historyRequested(const QString &buyerId);
    // "待处理订单…": the review queue.
    void reviewRequested();

private:
    bool ask(const QString &title, const QString &label, bool multiLine, QString *text);
    void save(const QString &buyerId, const std::function<void(BuyerNote &)> &change);

    SellerDatabase *m_database;
    QWidget *m_host;
    TextPrompt m_prompt;
};
