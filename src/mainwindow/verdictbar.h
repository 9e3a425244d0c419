#pragma once

#include "model/riskverdict.h"

#include <QWidget>

#include <array>

// A small bar of a batch's verdict counts: 高, 未知, 中, 低 side by side, each as wide as its
// share, in the colours the table marks its rows with. Its tooltip gives the counts.
class VerdictBar : public QWidget
{
    Q_OBJECT
public:
    explicit VerdictBar(QWidget *parent = nullptr);

    // In the order 高, 未知, 中, 低.
    void setCounts(const std::array<int, 4> &counts);
    const std::array<int, 4> &counts() const { return m_counts; }
    static const std::array<RiskLevel, 4> &order();
    static QColor colour(RiskLevel level);

    QSize sizeHint() const override { return {200, 12}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::array<int, 4> m_counts = {};
};
