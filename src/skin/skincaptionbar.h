#pragma once

#include "skinpicture.h"
#include "skinstore.h"

#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;

// The skinned caption bar of a frameless window. It is a child of its host window, docked along
// the host's top edge (full width, as high as the skin's "TOPLEFT" picture), and draws the left
// end, the tiled middle, the right end, the host's icon and title and up to four buttons (close,
// maximise/restore, minimise, stay-on-top) from the skin file named by Path. It drags the host,
// maximises it over the screen's work area and restores it, minimises, closes and pins it on
// top. The host sees its effects through its own geometry and state, through Style2 and through
// the process-wide AllowResize, which this bar alone writes.
//
// Host geometry is kept in twips, 15 per logical pixel, as the main window and the saved bounds
// use them; everything inside the bar is in pixels.
class SkinCaptionBar : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool ControlBox READ ControlBox WRITE setControlBox)
    Q_PROPERTY(bool Movable READ Movable WRITE setMovable)
    Q_PROPERTY(bool ONTOP READ ONTOP WRITE setONTOP)
    Q_PROPERTY(QString Path READ Path WRITE setPath)
    Q_PROPERTY(bool ShowIcon READ ShowIcon WRITE setShowIcon)
    Q_PROPERTY(bool SHOWONTOP READ SHOWONTOP WRITE setSHOWONTOP)
    Q_PROPERTY(int Style READ Style WRITE setStyle)
    Q_PROPERTY(int Style2 READ Style2 WRITE setStyle2)
    // The bar's own font: only the failure text it prints on itself uses it; the caption labels
    // keep their own font. A change redraws the bar.
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    // OLE colours (0x00BBGGRR, or a system colour with the high bit set), held by the labels.
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(quint32 ForeColor READ ForeColor WRITE setForeColor)

public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr quint32 kDefaultBackColor = 0x80000012; // button text
    static constexpr quint32 kDefaultForeColor = 0x00FFFFFF;

    // Work area of the screen the host is on, in pixels; nullopt when it cannot be had.
    using WorkAreaQuery = std::function<std::optional<QRect>(const QWidget *host)>;

    explicit SkinCaptionBar(QWidget *parent = nullptr);
    ~SkinCaptionBar() override;

    bool ControlBox() const { return m_ControlBox; }
    void setControlBox(bool value) { m_ControlBox = value; }
    bool Movable() const { return m_Movable; }
    void setMovable(bool value);
    bool ONTOP() const { return m_OnTop; }
    void setONTOP(bool value);
    QString Path() const { return m_Path; }
    void setPath(const QString &value);
    bool ShowIcon() const { return m_ShowIcon; }
    void setShowIcon(bool value) { m_ShowIcon = value; }
    bool SHOWONTOP() const { return m_ShowOnTop; }
    void setSHOWONTOP(bool value) { m_ShowOnTop = value; }
    int Style() const { return m_Style; }
    void setStyle(int value) { m_Style = value; }
    // 0 minimised, 1 held maximised by the bar, 2 normal.
    int Style2() const { return m_Style2; }
    void setStyle2(int value) { m_Style2 = value; }
    quint32 BackColor() const;
    void setBackColor(quint32 ole);
    quint32 ForeColor() const;
    void setForeColor(quint32 ole);

    // Reloads the skin and repaints the whole bar at once. Returns an empty value.
    Q_INVOKABLE QVariant REDRAW();

    // The window the bar acts on: its parent's top-level window.
    QWidget *host() const;

    // Read-only state, for the main window and tests.
    int HitButton() const { return m_HitButton; }
    bool OverButton() const { return m_OverButton; }
    int Maximized() const { return m_Maximized; }
    int xClose() const;
    int xMax() const;
    int xMin() const;
    int xOnTop() const;
    int FromTop() const { return m_FromTop; }
    int FromRight() const { return m_FromRight; }
    int IconSpace() const { return m_IconSpace; }
    int SavedWidth() const { return m_SavedWidth; }
    int SavedHeight() const { return m_SavedHeight; }
    int SavedLeft() const { return m_SavedLeft; }
    int SavedTop() const { return m_SavedTop; }
    QLabel *Label1() const { return m_Label1; }
    QLabel *Label2() const { return m_Label2; }
    QLabel *Image1() const { return m_Image1; }

    // Replaces the work-area query (tests use it for placements and failures); an empty function
    // restores the default, the host screen's available geometry.
    static void setWorkAreaQuery(WorkAreaQuery query);

    // The text printed on the bar when a window command cannot find the work area.
    static const QString &workAreaFailureText();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // One opaque copy onto the surface, kept so that a partial paint draws the surface as the
    // bar's handlers left it: the buttons of the last full redraw, then every single-button
    // redraw since, in order.
    struct DrawOp
    {
        QPixmap picture;
        QString text; // text printed in the bar's font instead of a picture
        QColor colour;
        QPoint at;
    };

    // Event handlers with the platform's arguments: Button 1 left, 2 right, 4 middle; Shift 1
    // shift, 2 control, 4 alt; X and Y in the bar's pixels.
    void UserControl_MouseMove(int Button, int Shift, float X, float Y);
    void UserControl_MouseDown(int Button, int Shift, float X, float Y);
    void UserControl_MouseUp(int Button, int Shift, float X, float Y);
    void UserControl_Click();
    void UserControl_DblClick();
    void UserControl_Resize();
    void BeginDrag();

    // Loads the skin and lays the bar out afresh: pictures, numbers, colours, height, icon,
    // labels, and the take-over of a maximised host. Schedules a full repaint unless asked not
    // to (from the paint handler itself).
    void DrawCaption(bool repaintAfter = true);
    void drawCaptionOnce();
    void applyLabels();
    void dock();
    void attachHost();
    void noteNormalBounds();

    // Loads a button picture from the skin into target and draws it at x (computed after the
    // load, with the new picture's width). A key the skin lacks leaves target and the surface
    // as they are.
    void redrawButton(const char *key, SkinPicture &target, int (SkinCaptionBar::*x)() const);
    void addOp(const SkinPicture &picture, int x, int y);
    void printOnSurface(const QString &text);

    std::optional<QRect> workArea() const;
    void applyWorkAreaPlacement(const QRect &area, bool positionFirst);
    void restoreSavedBounds();
    void saveHostBounds();
    void saveBounds(const QRect &frame);
    int hostWindowState() const;
    int hostWidth() const;
    int hostHeight() const;
    int hostLeft() const;
    int hostTop() const;
    void setHostWidth(int twips);
    void setHostHeight(int twips);
    void setHostLeft(int twips);
    void setHostTop(int twips);

    void followDrag(const QPointF &globalPos, Qt::MouseButtons buttons);
    void endOwnDrag();
    bool labelEvent(QEvent *event);

    QLabel *m_Image1 = nullptr;
    QLabel *m_Label2 = nullptr;
    QLabel *m_Label1 = nullptr;
    QPointer<QWidget> m_Host;

    QString m_Path;
    std::shared_ptr<const SkinStore> m_Skin;
    SkinPicture m_PicTopLeft, m_PicTopMid, m_PicTopRight;
    SkinPicture m_PicClose, m_PicMax, m_PicMin, m_PicOnTop;

    bool m_Movable = true;
    bool m_OnTop = false;
    bool m_ShowOnTop = false;
    bool m_ShowIcon = true;
    bool m_ControlBox = true;
    int m_Style = 1;
    int m_Style2 = 0;
    qint16 m_XOffset = 0, m_XOffset2 = 0, m_YOffset = 0;
    qint16 m_FromTop = 0, m_FromRight = 0, m_IconSpace = 0;
    // The surface's own drawing colours (from "FORECOLOR" and "BackColor"); until a skin gives
    // them, the colours of button text and of a button face.
    quint32 m_SurfaceFore = 0x80000012;
    quint32 m_SurfaceBack = 0x8000000F;
    int m_Maximized = 0;
    int m_SavedWidth = 0, m_SavedHeight = 0, m_SavedLeft = 0, m_SavedTop = 0;
    int m_HitButton = 0;
    bool m_OverButton = false;

    std::vector<DrawOp> m_Ops;
    QPoint m_CurrentPos; // where the next printed text goes
    int m_BarHeight = 0;
    QRect m_NormalFrame; // the host's last bounds while neither maximised nor minimised
    bool m_InDrawCaption = false;
    bool m_DrawAgain = false;

    // Mouse bookkeeping. A press outside the buttons arms a drag; the first move with the
    // button still held hands it to the platform's move loop, or, where the platform refuses,
    // the bar follows the pointer itself until the release.
    bool m_PressedHere = false;   // a press on the bar itself (a click may follow)
    bool m_AfterDblClick = false; // the release ending a double-click is no click
    bool m_DragArmed = false;
    bool m_OwnDrag = false;
    QPointF m_DragGlobal;
    QPoint m_DragHostPos;
};
