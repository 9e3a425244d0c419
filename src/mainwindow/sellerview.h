#pragma once

#include "model/riskverdict.h"

#include <QObject>
#include <QString>

class BuyerNotesMenu;
class ClickLabel;
class QGroupBox;
class QWidget;
class SellerDatabase;
struct LookupOutcome;

// What the window shows of the seller's database: under the result, a red line for a
// blacklisted buyer and a grey one saying when the buyer was looked up before and what changed
// since (a click opens the buyer's history); the result area's context menu (BuyerNotesMenu);
// the history dialog. Without a database it shows nothing.
class SellerView : public QObject
{
    Q_OBJECT
public:
    SellerView(QWidget *window, QGroupBox *resultArea);

    // The database must outlive the window; null turns it all off.
    void setDatabase(SellerDatabase *database);
    SellerDatabase *database() const { return m_database; }

    // What the two lines say about a buyer.
    struct Lines
    {
        QString warning;   // "黑名单：reason", or empty
        QString history;   // "上次查询 …", or empty
        SellerNotes notes; // for the risk verdict: a blacklisted buyer is high risk
    };
    // The lines of a lookup's outcome: its buyer's mark and the last lookup before it.
    static Lines linesFor(const LookupOutcome &outcome);

    // The lines of the buyer whose result is shown (the menu acts on that buyer).
    void showLines(const QString &buyerId, const Lines &lines);
    // A new query or a batch has begun: the lines go, and the menu has no buyer.
    void hideLines();
    // The history dialog, filtered by the buyer id (empty: every lookup).
    void showHistory(const QString &buyerId);

signals:
    // The seller changed the buyer's note or mark from the menu.
    void noteChanged(const QString &buyerId);

private:
    void showMenu(const QPoint &position);

    QWidget *m_window;
    QGroupBox *m_resultArea;
    ClickLabel *m_blacklistLine;
    ClickLabel *m_historyLine;
    SellerDatabase *m_database = nullptr;
    BuyerNotesMenu *m_menu = nullptr;
    QString m_buyerId; // the buyer shown; empty while none is
};
