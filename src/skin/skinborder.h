#pragma once

#include <QPointF>
#include <QRect>
#include <QString>
#include <QWidget>

// One skinned edge of its host window (the parent widget): BORDERTYPE 1 is the left edge, 2 the
// right one, 3 the bottom; any other value draws and resizes nothing. The thickness comes from
// the skin: the width of "LEFTTOP"/"RIGHTTOP", the height of "BOTTOM" (0 when absent, and a
// border 0 pixels thick cannot be pressed). Where the border sits is its frame's business
// (SkinFrame docks it); the border says when its thickness changes.
//
// The skin is loaded afresh on every paint, so a replaced skin file shows at the next paint.
//
// While resizing is enabled, moving over the border picks a hit zone (the lower-left corner, the
// edge, the lower-right corner; the corners are the last 10 pixels, both ends included) and its
// sizing cursor, and a press of any button resizes the host from that edge or corner: through the
// platform's own sizing loop, or, where the platform refuses, by following the pointer until the
// button is released. While it is disabled the border ignores the mouse.
class SkinBorder : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int BORDERTYPE READ borderType WRITE setBorderType)
    Q_PROPERTY(QString Path READ skinFile WRITE setSkinFile)

public:
    enum BorderType { None = 0, Left = 1, Right = 2, Bottom = 3 };
    Q_ENUM(BorderType)
    enum HitZone : qint16 { LowerLeft = 0, Edge = 1, LowerRight = 2 };
    Q_ENUM(HitZone)

    explicit SkinBorder(QWidget *host = nullptr);

    int borderType() const { return m_borderType; }
    // Stores the type and takes the thickness of its pictures at once.
    void setBorderType(int type);

    QString skinFile() const { return m_skinFile; }
    // Stores the skin file's name, takes the thickness from it and repaints.
    void setSkinFile(const QString &path);

    // Repaints at once from the skin file, taking the thickness afresh.
    Q_INVOKABLE void REDRAW();

    // Whether the mouse may resize the host from this border (the frame decides).
    bool resizeEnabled() const { return m_resizeEnabled; }
    void setResizeEnabled(bool enabled) { m_resizeEnabled = enabled; }

    // The zone of the last mouse move made while resizing was enabled (LowerLeft at creation).
    HitZone hitZone() const { return m_hitZone; }
    // The edges the last accepted press resized from; none before the first.
    Qt::Edges lastResizeEdges() const { return m_lastEdges; }
    // The thickness taken from the skin at the last load, in pixels.
    int thickness() const { return m_thickness; }
    // Takes the thickness from the skin file again (the skin cache makes this a file status
    // check); a border 0 pixels thick learns so about a skin file that has gained its pictures.
    void reloadThickness();

signals:
    // The thickness (or the type, and with it the edge) changed: the frame docks the border anew.
    void thicknessChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Qt::Edges edgesForPress() const;
    void followPointer(const QPointF &globalPos);

    int m_borderType = None;
    HitZone m_hitZone = LowerLeft;
    QString m_skinFile;
    int m_thickness = 0;
    bool m_resizeEnabled = false;
    Qt::Edges m_lastEdges;

    // Our own resize loop, where the platform has none.
    bool m_following = false;
    QPointF m_pressGlobal;
    QRect m_pressGeometry;
};
