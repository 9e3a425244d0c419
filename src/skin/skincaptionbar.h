#pragma once

#include "skin/captionlayout.h"
#include "skin/skinpicture.h"
#include "skin/skinstore.h"

#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;

// The skinned caption bar of a frameless window (JSCAPTION). A child of its host window, placed
// along the host's top edge by its frame (SkinFrame), as high as the skin's "TOPLEFT" picture. It
// draws the left end, the tiled middle, the right end, the host's icon and title and up to four
// buttons (close, maximise/restore, minimise, stay-on-top) from the skin file named by Path. It
// drags the host, maximises it over the screen's work area and restores it, minimises, closes and
// pins it on top, and tells its frame about the resulting window mode (windowModeChanged).
//
// Host geometry is kept in twips, 15 per logical pixel, as the saved bounds use them; everything
// inside the bar is in pixels.
class SkinCaptionBar : public QWidget
{
    Q_OBJECT
    // The property names are the ones skins, settings and tests use.
    Q_PROPERTY(bool ControlBox READ hasControlBox WRITE setControlBox)
    Q_PROPERTY(bool Movable READ isMovable WRITE setMovable)
    Q_PROPERTY(bool ONTOP READ isOnTop WRITE setOnTop)
    Q_PROPERTY(QString Path READ skinFile WRITE setSkinFile)
    Q_PROPERTY(bool ShowIcon READ showsIcon WRITE setShowIcon)
    Q_PROPERTY(bool SHOWONTOP READ showsStayOnTopButton WRITE setShowStayOnTopButton)
    Q_PROPERTY(int Style READ captionStyle WRITE setCaptionStyle)
    Q_PROPERTY(int Style2 READ windowModeValue WRITE setWindowModeValue)
    // The bar's own font: only the failure text it prints on itself uses it; the caption labels
    // keep their own font. A change redraws the bar.
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    // OLE colours (0x00BBGGRR, or a system colour with the high bit set), held by the labels.
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(quint32 ForeColor READ foreColor WRITE setForeColor)

public:
    // The window mode as the bar sees it (the Style2 property).
    enum WindowMode { Minimised = 0, Maximised = 1, Normal = 2 };
    Q_ENUM(WindowMode)
    // Which buttons exist and react (the Style property); any other value acts as NoBorderResize.
    enum CaptionStyle {
        CloseOnly = 0,        // close only; no double-click
        AllButtons = 1,       // all buttons; the borders may resize a normal window
        NoBorderResize = 2,   // all buttons; the borders never resize
        MaximiseDisabled = 3, // the maximise/restore button and the double-click do nothing
        CloseDisabled = 4,    // the close button does nothing
    };
    Q_ENUM(CaptionStyle)
    enum CaptionButton {
        CloseButton = CaptionLayout::Close,
        MinimiseButton = CaptionLayout::Minimise,
        MaximiseButton = CaptionLayout::Maximise,
        StayOnTopButton = CaptionLayout::StayOnTop
    };
    Q_ENUM(CaptionButton)

    static constexpr int kTwipsPerPixel = 15;
    // The tallest bar: the default skin's is 27 pixels; a taller TOPLEFT is cut to this.
    static constexpr int kMaxBarHeight = 48;
    static constexpr quint32 kDefaultBackColor = 0x80000012; // button text
    static constexpr quint32 kDefaultForeColor = 0x00FFFFFF;

    // Work area of the screen the host is on, in pixels; nullopt when it cannot be had.
    using WorkAreaQuery = std::function<std::optional<QRect>(const QWidget *host)>;

    explicit SkinCaptionBar(QWidget *parent = nullptr);
    ~SkinCaptionBar() override;

    bool hasControlBox() const { return m_controlBox; }
    void setControlBox(bool on);
    bool isMovable() const { return m_movable; }
    void setMovable(bool on);
    bool isOnTop() const { return m_onTop; }
    void setOnTop(bool on);
    QString skinFile() const { return m_skinFile; }
    void setSkinFile(const QString &path);
    bool showsIcon() const { return m_showIcon; }
    void setShowIcon(bool on);
    bool showsStayOnTopButton() const { return m_showOnTop; }
    void setShowStayOnTopButton(bool on);
    int captionStyle() const { return m_style; }
    void setCaptionStyle(int style);
    WindowMode windowMode() const { return m_mode; }
    int windowModeValue() const { return m_mode; }
    void setWindowModeValue(int mode);
    quint32 backColor() const;
    void setBackColor(quint32 ole);
    quint32 foreColor() const;
    void setForeColor(quint32 ole);

    // Reloads the skin and repaints the whole bar at once. Returns an empty value.
    Q_INVOKABLE QVariant REDRAW();

    // The window the bar acts on: its parent's top-level window.
    QWidget *host() const;
    // The height the skin gives the bar (its "TOPLEFT" picture), in pixels.
    int barHeight() const { return m_barHeight; }

    // What the frame tells the bar about its host window: a change of its state (a window the
    // platform maximised is taken over: it becomes a normal window covering the work area, held
    // maximised by the bar), of its bounds, of its title or icon.
    void followWindowState();
    void noteWindowBounds();
    void showTitleAndIcon();

    // Read-only state, for the frame and tests.
    CaptionButton hitButton() const { return m_hitButton; }
    bool isOverButton() const { return m_overButton; }
    bool isMaximised() const { return m_maximised; }
    // Where the bar's pieces go now, at its own width.
    CaptionLayout layout() const { return layoutFor(width()); }
    int buttonX(CaptionButton button) const
    {
        return layout().button(CaptionLayout::Button(button)).x();
    }
    int buttonTop() const { return m_metrics.fromTop; }
    int rightGap() const { return m_metrics.fromRight; }
    int buttonGap() const { return m_metrics.iconSpace; }
    // The host's bounds saved before maximising, in twips.
    QRect savedBounds() const { return m_savedBounds; }
    QLabel *titleLabel() const { return m_title; }
    QLabel *titleShadowLabel() const { return m_titleShadow; }
    QLabel *iconLabel() const { return m_icon; }

    // What a click on the button does (a screen reader's press of its stand-in too).
    void pressButton(CaptionButton button);

    // Replaces the work-area query (tests use it for placements and failures); an empty function
    // restores the default, the host screen's available geometry.
    static void setWorkAreaQuery(WorkAreaQuery query);

    // The text printed on the bar when a window command cannot find the work area.
    static const QString &workAreaFailureText();

signals:
    void windowModeChanged(SkinCaptionBar::WindowMode mode);
    void barHeightChanged(int height);
    void captionStyleChanged(int style);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // Text printed on the surface, in the bar's font; it stays until the buttons are next shown
    // in their normal pictures.
    struct PrintedText
    {
        QString text;
        QColor colour;
        QPoint at;
    };

    // The pointer, in the bar's pixels: the handlers the title label passes its events on to
    // as well (at (1, 1)).
    void pointerMoved(QPointF at);
    void pointerPressed();
    void pointerReleased();
    void clicked();
    void doubleClicked();
    void beginDrag();

    // Loads the skin afresh (through the cache) and lays the bar out: pictures, numbers,
    // colours, height, labels, the window mode, the buttons in their normal pictures. Never
    // changes the host's geometry.
    void loadSkin();
    // The buttons' normal pictures, from the loaded skin.
    void showNormalButtons();
    // Recomputes the window mode from the bar's own maximised state and the host's state.
    void refreshWindowMode();
    void setWindowMode(WindowMode mode);
    void applyLabels();
    // The layout of the bar's pictures and numbers at that width, as high as the skin makes it.
    CaptionLayout layoutFor(int width) const;

    // Loads a button picture from the skin into target and draws it at the button's place
    // (computed after the load, with the new picture's width). A key the skin lacks leaves
    // target and the surface as they are.
    void redrawButton(const char *key, SkinPicture &target, CaptionButton button);
    void printOnSurface(const QString &text);
    // The buttons' stand-ins for screen readers, over the buttons shown.
    void placeStandIns();

    void maximise(bool positionFirst);
    void restore();
    std::optional<QRect> workArea() const;
    void applyWorkAreaPlacement(const QRect &area, bool positionFirst);
    void restoreSavedBounds();
    void saveHostBounds();
    void saveBounds(const QRect &frame);
    bool hostMinimised() const;
    void setHostWidth(int twips);
    void setHostHeight(int twips);
    void setHostLeft(int twips);
    void setHostTop(int twips);

    void followDrag(const QPointF &globalPos, Qt::MouseButtons buttons);
    void endOwnDrag();
    bool titleEvent(QEvent *event);

    QLabel *m_icon = nullptr;
    QLabel *m_titleShadow = nullptr;
    QLabel *m_title = nullptr;
    QAbstractButton *m_standIns[4] = {}; // by CaptionButton

    QString m_skinFile;
    std::shared_ptr<const SkinStore> m_skin;
    SkinPicture m_topLeft, m_topMid, m_topRight;
    // The picture each button shows now.
    SkinPicture m_closePicture, m_maxPicture, m_minPicture, m_onTopPicture;

    bool m_movable = true;
    bool m_onTop = false;
    bool m_showOnTop = false;
    bool m_showIcon = true;
    bool m_controlBox = true;
    int m_style = AllButtons;
    WindowMode m_mode = Minimised;
    CaptionMetrics m_metrics;
    // The surface's own drawing colours (from "FORECOLOR" and "BackColor"); until a skin gives
    // them, the colours of button text and of a button face.
    quint32 m_surfaceFore = 0x80000012;
    quint32 m_surfaceBack = 0x8000000F;
    bool m_maximised = false;
    QRect m_savedBounds; // twips
    CaptionButton m_hitButton = CloseButton;
    bool m_overButton = false;

    std::vector<PrintedText> m_printed;
    QPoint m_textPos; // where the next printed text goes
    int m_barHeight = 0;
    QRect m_normalFrame; // the host's last bounds while neither maximised nor minimised

    // Mouse bookkeeping. A press outside the buttons arms a drag; the first move with the
    // button still held hands it to the platform's move loop, or, where the platform refuses,
    // the bar follows the pointer itself until the release.
    bool m_pressedHere = false;   // a press on the bar itself (a click may follow)
    bool m_afterDblClick = false; // the release ending a double-click is no click
    bool m_dragArmed = false;
    bool m_ownDrag = false;
    QPointF m_dragGlobal;
    QPoint m_dragHostPos;
};
