#pragma once

#include "model/buyerassessment.h"

#include <QFrame>
#include <QPointer>

class QPainter;

// Draws one credit level icon (heart, diamond, crown, gold crown) filling the box, as vector
// shapes, so it is sharp at any device pixel ratio. Nothing for CreditTier::None.
void drawCreditIcon(QPainter &painter, CreditTier tier, const QRectF &box);

// The verdict on the last buyer in two short lines: the risk level in its colour ("风险：高") with
// the buyer's credit level as a row of icons, and under it "页面被拦截" when a page was blocked,
// else how many reasons there are. The tooltip lists the reasons; a click opens a small popup
// with the credit score, the reasons and each page's outcome.
class RiskVerdictView : public QWidget
{
    Q_OBJECT
public:
    explicit RiskVerdictView(QWidget *parent = nullptr);

    void setAssessment(const BuyerAssessment &assessment, const PageResults &pages);
    const BuyerAssessment &assessment() const { return m_assessment; }

    // The verdict line as the widget shows it: "风险：低".
    QString verdictText() const;
    // The second line: "页面被拦截", "2条原因，点击查看" or "".
    QString noteText() const;
    // Where each credit icon is drawn, in the widget's coordinates.
    QList<QRectF> iconRects() const;

    // The colour of a risk level.
    static QColor levelColour(RiskLevel level);

    // Opens the details popup under the widget (what a click does); the open popup, or null.
    void showDetails();
    QFrame *detailsPopup() const { return m_details.data(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QRectF verdictTextRect() const;
    QString tipText() const;

    BuyerAssessment m_assessment;
    PageResults m_pages;
    QPointer<QFrame> m_details;
};
