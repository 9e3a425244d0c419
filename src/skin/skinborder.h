#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

// One skinned edge of its host window (the parent widget): BORDERTYPE 1 docks it on the host's
// left edge, 2 on the right, 3 along the bottom; any other value docks, draws and resizes
// nothing. The side borders run from the dock top (the height the caption bar takes) down to the
// bottom border's top; the bottom border spans the full width. The thickness comes from the skin:
// the width of "LEFTTOP"/"RIGHTTOP", the height of "BOTTOM" (0 when absent, and a border 0 pixels
// thick cannot be pressed).
//
// The skin is loaded afresh on every paint, so a replaced skin file shows at the next paint.
//
// While AllowResize is True, moving over the border picks a hit zone (0 lower-left corner, 1 the
// edge, 2 lower-right corner; the corners are the last 10 pixels, both ends included) and its
// sizing cursor, and a press of any button resizes the host from that edge or corner: through the
// platform's own sizing loop, or, where the platform refuses, by following the pointer until the
// button is released. While AllowResize is False the border ignores the mouse.
class SkinBorder : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int BORDERTYPE READ BORDERTYPE WRITE setBORDERTYPE)
    Q_PROPERTY(QString Path READ Path WRITE setPath)

public:
    enum BorderType { None = 0, Left = 1, Right = 2, Bottom = 3 };
    enum HitZone : qint16 { LowerLeft = 0, Edge = 1, LowerRight = 2 };

    explicit SkinBorder(QWidget *host = nullptr);

    int BORDERTYPE() const { return m_BorderType; }
    // Stores the type and, for 1 to 3, docks the border on its host at once.
    void setBORDERTYPE(int NewBordertype);

    QString Path() const { return m_Path; }
    // Stores the skin file's name, takes the thickness from it and repaints.
    void setPath(const QString &NewPath);

    // Repaints at once from the skin file, taking the thickness afresh.
    Q_INVOKABLE void REDRAW();

    // Pixels at the top of the host taken by the caption bar; the side borders start below them.
    int dockTop() const { return m_DockTop; }
    void setDockTop(int px);

    // The zone of the last mouse move made while AllowResize was True (0 at creation).
    qint16 hitZone() const { return m_HitZone; }
    // The edges the last accepted press resized from; none before the first.
    Qt::Edges lastResizeEdges() const { return m_LastEdges; }
    // The thickness taken from the skin at the last load, in pixels.
    int thickness() const { return m_Thickness; }

    // Where a border of this type sits on its host, given its thickness and the host's current
    // size, dock top and bottom border. An empty rectangle for type 0.
    QRect dockedGeometry() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *host() const { return parentWidget(); }
    void watchHost();
    // Reads the thickness from the skin file; re-docks when it changed.
    void loadThickness();
    void dock();
    // The side borders of the host depend on the bottom border's height and visibility.
    void redockSiblings();
    Qt::Edges edgesForPress() const;
    void followPointer(const QPointF &globalPos);

    int m_BorderType = None;
    qint16 m_HitZone = LowerLeft;
    QString m_Path;
    int m_Thickness = 0;
    int m_DockTop = 0;
    Qt::Edges m_LastEdges;

    // Our own resize loop, where the platform has none.
    bool m_Following = false;
    QPointF m_PressGlobal;
    QRect m_PressGeometry;
    QPointer<QWidget> m_WatchedHost;
};
