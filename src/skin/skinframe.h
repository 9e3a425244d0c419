#pragma once

#include "skin/skinborder.h"
#include "skin/skincaptionbar.h"

#include <QObject>
#include <QPointer>
#include <QSize>

// The skinned frame of a frameless window: the caption bar on top (JSCAPTION1) and the left,
// right and bottom borders (JSBORDER1 to JSBORDER3), created as children of the window. The frame
// alone watches the window. It docks the four controls, and follows the caption bar's window
// mode: the borders hide while the window is held maximised, the top corners are cut and the
// minimum size holds only in the normal mode, and the borders may resize the window only in the
// normal (or minimised) mode with caption style AllButtons.
class SkinFrame : public QObject
{
    Q_OBJECT
public:
    using WindowMode = SkinCaptionBar::WindowMode;

    explicit SkinFrame(QWidget *window);
    ~SkinFrame() override;

    QWidget *window() const { return m_window; }
    SkinCaptionBar *captionBar() const { return m_captionBar; }
    SkinBorder *border(SkinBorder::BorderType type) const;

    // Hands the skin file to the caption bar, then to the left, right and bottom borders.
    void setSkinFile(const QString &path);

    // The window's minimum size in the normal mode (pixels); an empty size leaves the window's
    // minimum size alone.
    void setNormalMinimumSize(QSize size);
    QSize normalMinimumSize() const { return m_normalMinimum; }

    WindowMode windowMode() const;
    // Whether the borders may resize the window now.
    bool resizeAllowed() const { return m_resizeAllowed; }

    // The window's shape in the normal mode: the two top corners cut, from its outer size in
    // pixels (reckoned in twips of 15 per pixel, rounded halves to even).
    static QPolygon normalShape(QSize outerSize);

signals:
    // The caption bar's window mode changed (minimised, held maximised, normal).
    void windowModeChanged(SkinCaptionBar::WindowMode mode);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onWindowModeChanged();
    // Border visibility, resizing, shape and minimum size for the current mode.
    void applyModeRules();
    // Places the caption bar and the borders on the window's edges.
    void dock();

    QPointer<QWidget> m_window;
    SkinCaptionBar *m_captionBar = nullptr;
    SkinBorder *m_left = nullptr;
    SkinBorder *m_right = nullptr;
    SkinBorder *m_bottom = nullptr;
    QSize m_normalMinimum;
    bool m_resizeAllowed = false;
    WindowMode m_lastMode;
};
