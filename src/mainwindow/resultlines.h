#pragma once

#include "web/pageresult.h"

#include <QString>

struct BuyerAssessment;
struct BuyerCreditRecord;
struct MainWindowLayout;
class ClickLabel;
class QFontMetrics;
class QLineEdit;
class RiskVerdictView;

// The result area's lines: a buyer's four summary lines and the link to the credit page, and the
// line they share with the update notice and the batch's progress (Label5).
class ResultLines
{
public:
    explicit ResultLines(const MainWindowLayout &layout);

    // The buyer's lines: id and verification, ratings received, registration time, nick and
    // area, ratings given to others, and the credit page link (its address kept in Text7).
    void show(const QString &buyerId, const BuyerCreditRecord &record);
    // The verdict on the buyer, atop the link column (RiskVerdictView).
    void showVerdict(const BuyerAssessment &assessment, const PageResults &pages);
    // Hides the buyer's lines and verdict (a new query or a batch buyer has begun).
    void hide();

    // What a lookup came to when it has no record to show, in the place of the lines: plain for
    // not found, a warning for a failure, a link for something the seller can set right.
    enum class StatusKind { Plain, Failure, Link, Busy };
    void showStatus(const QString &text, StatusKind kind);
    void hideStatus();
    QString statusText() const;

    // A batch begins: the ratings lines go, the notice line (the progress line to be) shows.
    void beginBatch();
    // The batch's progress line; shown at once, the window painting it before it goes on. Too long
    // for the line, its last clause (the time left, after the last "，") stays whole and the text
    // before it gives way from its end (the buyer id first); the tooltip has it whole.
    void showProgress(const QString &text, bool paintNow = false);
    void hideProgress();
    // The line's width changed: the progress fitted anew.
    void refitProgress();
    // text fitted into width pixels of metrics, as the progress line shows it.
    static QString fitProgress(const QString &text, const QFontMetrics &metrics, int width);

    QString creditAddress() const;

private:
    ClickLabel *m_idLine;
    ClickLabel *m_ratingsLine;
    ClickLabel *m_profileLine;
    ClickLabel *m_givenLine;
    ClickLabel *m_creditLink;
    ClickLabel *m_noticeLine;
    ClickLabel *m_statusLine;
    QLineEdit *m_creditAddress;
    RiskVerdictView *m_verdict;
    QString m_progress; // the progress line whole
};
