#pragma once

#include <QLabel>

// A label that reports a click: the left button pressed and released over it. A one-line text
// wider than the label ends in "…" on screen rather than in half a character; text() keeps it
// whole. Given a focus policy, it is a link of the keyboard too: Enter or Space clicks it, and
// it shows the focus.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(QWidget *parent = nullptr) : QLabel(parent) {}

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_pressed = false;
};
