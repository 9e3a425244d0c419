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

// What the window shows under the result, in one row: which pages could not be read, a red
// line for a blacklisted buyer, the seller's note and mark, and a grey line saying when the
// buyer was looked up before and what changed since (a click opens the buyer's history). Also
// the result area's context menu (BuyerNotesMenu) and the history dialog. Without a database
// only the pages' line shows.
class SellerView : public QObject
{
    Q_OBJECT
public:
    SellerView(QWidget *window, QGroupBox *resultArea);

    // The database must outlive the window; null turns it all off.
    void setDatabase(SellerDatabase *database);
    SellerDatabase *database() const { return m_database; }
    // The thresholds the history dialog's risk column is assessed by.
    void setRiskSettings(const RiskSettings &risk) { m_risk = risk; }

    // What the two lines say about a buyer.
    struct Lines
    {
        QString pages;      // "部分页面未能读取：…" or "页面被拦截：…", or empty
        QString warning;    // "黑名单：reason", or empty
        QString warningTip; // the warning with the day the buyer was listed
        QString note;       // "备注：…" (with "信任" for a trusted buyer), or empty
        QString history;    // "上次查询 …", or empty
        SellerNotes notes;  // for the risk verdict: a blacklisted buyer is high risk
    };
    // The lines of a lookup's outcome: its buyer's mark and the last lookup before it.
    static Lines linesFor(const LookupOutcome &outcome);

    // The lines of the buyer whose result is shown (the menu acts on that buyer).
    void showLines(const QString &buyerId, const Lines &lines);
    // A new query or a batch has begun: the lines go, and the menu has no buyer.
    void hideLines();
    // Lays the row out again for the result area's width.
    void relayout();
    // The history dialog, filtered by the buyer id (empty: every lookup).
    void showHistory(const QString &buyerId);

signals:
    // The seller changed the buyer's note or mark from the menu.
    void noteChanged(const QString &buyerId);
    // The menu asks for the review queue.
    void reviewRequested();

private:
    void showMenu(const QPoint &position);

    QWidget *m_window;
    QGroupBox *m_resultArea;
    ClickLabel *m_pagesLine;
    ClickLabel *m_blacklistLine;
    ClickLabel *m_noteLine;
    ClickLabel *m_historyLine;
    Lines m_lines;
    SellerDatabase *m_database = nullptr;
    RiskSettings m_risk;
    BuyerNotesMenu *m_menu = nullptr;
    QString m_buyerId; // the buyer shown; empty while none is
};
