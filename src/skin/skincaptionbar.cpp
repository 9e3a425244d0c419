#include "skincaptionbar.h"

#include "allowresize.h"
#include "staysontop.h"
#include "olecolour.h"
#include "skinload.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace {

SkinCaptionBar::WorkAreaQuery &workAreaQueryOverride()
{
    static SkinCaptionBar::WorkAreaQuery query;
    return query;
}

const char *const kOleProperty = "oleColour";

void setLabelColour(QLabel *label, quint32 ole)
{
    label->setProperty(kOleProperty, ole);
    QPalette palette = label->palette();
    const QColor colour = colourFromOle(ole);
    if (palette.color(QPalette::WindowText) != colour) {
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
    }
}

// The caption font: Trebuchet MS where installed, else a bold sans; a CJK family follows so
// Chinese titles never fall back to boxes. Every attribute is set explicitly so that the bar's
// own Font never leaks into the labels.
QFont captionFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Trebuchet MS"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPointSizeF(11.25);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

int vbButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int vbButtons(Qt::MouseButtons buttons)
{
    return (buttons.testFlag(Qt::LeftButton) ? 1 : 0) |
           (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
           (buttons.testFlag(Qt::MiddleButton) ? 4 : 0);
}

int vbShift(Qt::KeyboardModifiers modifiers)
{
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

int toPixels(int twips)
{
    return int(std::lround(double(twips) / SkinCaptionBar::kTwipsPerPixel));
}

} // namespace

SkinCaptionBar::SkinCaptionBar(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    // Stacking from the bottom: the icon, the shadow copy of the title, the title.
    m_Image1 = new QLabel(this);
    m_Image1->setObjectName(QStringLiteral("Image1"));
    m_Image1->setFixedSize(16, 16);
    m_Image1->setScaledContents(true);
    m_Label2 = new QLabel(this);
    m_Label2->setObjectName(QStringLiteral("Label2"));
    m_Label1 = new QLabel(this);
    m_Label1->setObjectName(QStringLiteral("Label1"));
    const QString initial = QStringLiteral("酷毙了的 XP 窗体控件 (支持换皮肤)");
    for (QLabel *label : {m_Label2, m_Label1}) {
        label->setFont(captionFont());
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setAutoFillBackground(false);
        label->setText(initial);
        label->adjustSize();
    }
    // All three take the pointer's events: the title passes them on, the shadow and the icon
    // swallow them (a press on the icon does not drag).
    for (QLabel *label : {m_Image1, m_Label2, m_Label1}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
    setLabelColour(m_Label1, kDefaultForeColor);
    setLabelColour(m_Label2, kDefaultBackColor);

    // Restoring the properties: the borders may not resize until a resize allows it.
    AllowResize = false;
    setCursor(Qt::ArrowCursor);
    attachHost();
}

SkinCaptionBar::~SkinCaptionBar() = default;

QWidget *SkinCaptionBar::host() const
{
    QWidget *parent = parentWidget();
    return parent ? parent->window() : nullptr;
}

void SkinCaptionBar::attachHost()
{
    QWidget *now = host();
    if (now == m_Host)
        return;
    if (m_Host)
        m_Host->removeEventFilter(this);
    m_Host = now;
    if (m_Host) {
        m_Host->installEventFilter(this);
        m_NormalFrame = QRect();
        noteNormalBounds();
        dock();
    }
}

void SkinCaptionBar::noteNormalBounds()
{
    if (m_Host && m_Maximized == 0 && hostWindowState() == 0)
        m_NormalFrame = m_Host->frameGeometry();
}

void SkinCaptionBar::dock()
{
    if (!m_Host)
        return;
    const QRect want(0, 0, m_Host->width(), m_BarHeight);
    if (geometry() != want)
        setGeometry(want);
}

// --- properties ---------------------------------------------------------------------------

void SkinCaptionBar::setMovable(bool value)
{
    m_Movable = value;
    // A movable bar shows the ordinary arrow; an unmovable one whatever its host shows.
    if (value)
        setCursor(Qt::ArrowCursor);
    else
        unsetCursor();
}

void SkinCaptionBar::setONTOP(bool value)
{
    m_OnTop = value;
    if (value)
        setStaysOnTop(host(), true);
    else
        setStaysOnTop(host(), false);
}

void SkinCaptionBar::setPath(const QString &value)
{
    m_Path = value;
    DrawCaption();
}

quint32 SkinCaptionBar::BackColor() const
{
    return m_Label2->property(kOleProperty).toUInt();
}

void SkinCaptionBar::setBackColor(quint32 ole)
{
    setLabelColour(m_Label2, ole);
}

quint32 SkinCaptionBar::ForeColor() const
{
    return m_Label1->property(kOleProperty).toUInt();
}

void SkinCaptionBar::setForeColor(quint32 ole)
{
    setLabelColour(m_Label1, ole);
}

QVariant SkinCaptionBar::REDRAW()
{
    DrawCaption();
    repaint();
    return QVariant();
}

// --- layout -------------------------------------------------------------------------------

// Buttons stand right to left: close, maximise/restore, minimise, stay-on-top, ICONSPACE apart.
// The stay-on-top place always leaves room for maximise and minimise, drawn or not.
int SkinCaptionBar::xClose() const
{
    return width() - m_PicClose.width() - m_FromRight;
}

int SkinCaptionBar::xMax() const
{
    return width() - m_PicMax.width() - m_IconSpace - m_PicClose.width() - m_FromRight;
}

int SkinCaptionBar::xMin() const
{
    return width() - m_PicMin.width() - m_IconSpace - m_PicMax.width() - m_IconSpace -
           m_PicClose.width() - m_FromRight;
}

int SkinCaptionBar::xOnTop() const
{
    return width() - m_PicOnTop.width() - m_IconSpace - m_PicMin.width() - m_IconSpace -
           m_PicMax.width() - m_IconSpace - m_PicClose.width() - m_FromRight;
}

void SkinCaptionBar::DrawCaption(bool repaintAfter)
{
    // Resizing the host from inside a load raises resizes that would load again; run the load
    // once more afterwards instead of nesting.
    if (m_InDrawCaption) {
        m_DrawAgain = true;
        return;
    }
    m_InDrawCaption = true;
    int rounds = 0;
    do {
        m_DrawAgain = false;
        drawCaptionOnce();
    } while (m_DrawAgain && ++rounds < 4);
    m_InDrawCaption = false;
    if (repaintAfter)
        update();
}

void SkinCaptionBar::drawCaptionOnce()
{
    QWidget *hostWindow = host();

    m_PicTopLeft = SkinPicture();
    m_PicTopMid = SkinPicture();
    m_PicTopRight = SkinPicture();
    m_PicClose = SkinPicture();
    m_PicMax = SkinPicture();
    m_PicMin = SkinPicture();
    m_PicOnTop = SkinPicture();

    SkinLoad load(m_Path);
    load.picture("TOPLEFT", m_PicTopLeft)
        .picture("TOPMID", m_PicTopMid)
        .picture("TOPRIGHT", m_PicTopRight)
        .picture("CLOSE", m_PicClose);
    if (m_Maximized == 1) {
        load.picture("RES1", m_PicMax);
        m_Style2 = 1;
    } else if (hostWindowState() == 1) {
        m_Style2 = 0;
    } else {
        load.picture("MAX", m_PicMax);
        m_Style2 = 2;
    }
    load.picture("MIN", m_PicMin);
    load.picture(m_OnTop ? "ONTOP3" : "ONTOP1", m_PicOnTop);
    load.number("XOFFSET", m_XOffset)
        .number("XOFFSET2", m_XOffset2)
        .number("YOFFSET", m_YOffset)
        .number("FROMRIGHT", m_FromRight)
        .number("FROMTOP", m_FromTop)
        .number("ICONSPACE", m_IconSpace);
    load.colour("FORECOLOR", m_SurfaceFore).colour("BackColor", m_SurfaceBack);
    m_Skin = load.store();
    if (hostWindow) {
        if (auto parentBack = m_Skin->colour(QStringLiteral("PARENTBACKCOLOR"))) {
            const QColor colour = colourFromOle(*parentBack);
            QPalette palette = hostWindow->palette();
            if (palette.color(QPalette::Window) != colour || !hostWindow->autoFillBackground()) {
                palette.setColor(QPalette::Window, colour);
                hostWindow->setPalette(palette);
                hostWindow->setAutoFillBackground(true);
            }
        }
    }

    m_BarHeight = m_PicTopLeft.height();
    dock();

    // The full redraw: the buttons as they stand now; earlier single-button redraws and printed
    // text are gone.
    m_Ops.clear();
    if (m_ControlBox) {
        addOp(m_PicClose, xClose(), m_FromTop);
        if (m_Style != 0) {
            addOp(m_PicMax, xMax(), m_FromTop);
            addOp(m_PicMin, xMin(), m_FromTop);
        }
    }
    if (m_ShowOnTop)
        addOp(m_PicOnTop, xOnTop(), m_FromTop);

    applyLabels();

    // A host maximised by the platform becomes an ordinary window covering the work area, held
    // maximised by the bar.
    if (hostWindow && hostWindowState() == 2) {
        // The bounds it returns to. The platform may report its maximising more than once, and
        // later than the bar restores it, so they come from the bar's own record of the host's
        // last normal bounds; a host not yet shown has its record in normalGeometry().
        QRect normal = m_NormalFrame;
        if (!hostWindow->isVisible() || !normal.isValid()) {
            const QMargins frame = hostWindow->windowHandle()
                                       ? hostWindow->windowHandle()->frameMargins()
                                       : QMargins();
            normal = hostWindow->normalGeometry() + frame;
        }
        hostWindow->setWindowState(hostWindow->windowState() & ~Qt::WindowMaximized);
        m_Style2 = 1;
        AllowResize = false;
        m_Maximized = 1;
        if (const auto area = workArea()) {
            if (normal.isValid())
                saveBounds(normal);
            else
                saveHostBounds();
            applyWorkAreaPlacement(*area, true);
        }
        m_DrawAgain = true; // the restore pictures
    }
}

// The paint handler's share: title text, label places and colours, the icon.
void SkinCaptionBar::applyLabels()
{
    QWidget *hostWindow = host();
    const QString caption = hostWindow ? hostWindow->windowTitle() : QString();
    for (QLabel *label : {m_Label1, m_Label2}) {
        if (label->text() != caption) {
            label->setText(caption);
            label->adjustSize();
        }
    }
    m_Label1->move(m_XOffset + 17, m_YOffset);
    m_Label2->move(m_XOffset + 16, m_YOffset - 1);
    setLabelColour(m_Label1, m_SurfaceFore);
    setLabelColour(m_Label2, m_SurfaceBack);

    m_Image1->move(m_XOffset2, m_YOffset + 2);
    m_Image1->setVisible(m_ShowIcon);
    if (m_ShowIcon && hostWindow) {
        const QIcon icon = hostWindow->windowIcon();
        if (!icon.isNull()) {
            const QPixmap pixmap = icon.pixmap(QSize(16, 16));
            if (pixmap.cacheKey() != m_Image1->pixmap().cacheKey())
                m_Image1->setPixmap(pixmap);
        }
    }
}

void SkinCaptionBar::addOp(const SkinPicture &picture, int x, int y)
{
    if (picture.isEmpty())
        return;
    const QRect rect(QPoint(x, y), picture.pixmap().deviceIndependentSize().toSize());
    // A copy hidden under a later opaque one is dropped, so the list stays short.
    m_Ops.erase(std::remove_if(m_Ops.begin(), m_Ops.end(),
                               [&](const DrawOp &op) {
                                   return op.text.isEmpty() &&
                                          rect.contains(QRect(
                                              op.at, op.picture.deviceIndependentSize().toSize()));
                               }),
                m_Ops.end());
    m_Ops.push_back({picture.pixmap(), QString(), QColor(), QPoint(x, y)});
    update(rect);
}

void SkinCaptionBar::redrawButton(const char *key, SkinPicture &target, int (SkinCaptionBar::*x)() const)
{
    // A skin without this picture: nothing is drawn and the button keeps its picture.
    const auto picture = m_Skin ? m_Skin->picture(QLatin1String(key)) : std::nullopt;
    if (!picture)
        return;
    target.load(*picture);
    addOp(target, (this->*x)(), m_FromTop);
}

void SkinCaptionBar::printOnSurface(const QString &text)
{
    m_Ops.push_back({QPixmap(), text, colourFromOle(m_SurfaceFore), m_CurrentPos});
    const QFontMetrics metrics(font());
    update(QRect(m_CurrentPos, QSize(metrics.horizontalAdvance(text) + 1, metrics.height())));
    m_CurrentPos = QPoint(0, m_CurrentPos.y() + metrics.height());
}

const QString &SkinCaptionBar::workAreaFailureText()
{
    static const QString text = QStringLiteral("调用 SystemParametersInfo 失败");
    return text;
}

void SkinCaptionBar::paintEvent(QPaintEvent *)
{
    // A skin file replaced on disk shows at the next paint.
    if (SkinStore::load(m_Path) != m_Skin)
        DrawCaption(false);

    QPainter painter(this);
    painter.fillRect(rect(), colourFromOle(m_SurfaceBack));
    const int w = m_PicTopMid.width();
    if (!m_PicTopMid.isEmpty() && w > 0) {
        for (int x = 0; x < width(); x += w)
            m_PicTopMid.paint(painter, x, 0);
    }
    m_PicTopLeft.paint(painter, 0, 0);
    m_PicTopRight.paint(painter, width() - m_PicTopRight.width(), 0);

    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const DrawOp &op : m_Ops) {
        if (op.text.isEmpty()) {
            painter.drawPixmap(op.at, op.picture);
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.setFont(font());
            painter.setPen(op.colour);
            painter.drawText(QRect(op.at, QSize(width(), height())),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, op.text);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
        }
    }
}

// --- events -------------------------------------------------------------------------------

void SkinCaptionBar::resizeEvent(QResizeEvent *)
{
    UserControl_Resize();
}

void SkinCaptionBar::UserControl_Resize()
{
    if (m_Maximized == 1)
        AllowResize = false;
    else if (m_Style == 1)
        AllowResize = true;
    DrawCaption();
}

void SkinCaptionBar::showEvent(QShowEvent *)
{
    attachHost();
    DrawCaption();
}

void SkinCaptionBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        DrawCaption();
    else if (event->type() == QEvent::ParentChange)
        attachHost();
    QWidget::changeEvent(event);
}

bool SkinCaptionBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_Host) {
        switch (event->type()) {
        case QEvent::Resize:
            noteNormalBounds();
            dock();
            break;
        case QEvent::Move:
            noteNormalBounds();
            break;
        case QEvent::WindowStateChange:
            // Minimised, restored from the task bar, or maximised by the platform.
            DrawCaption();
            break;
        case QEvent::WindowTitleChange:
        case QEvent::WindowIconChange:
            applyLabels();
            break;
        default:
            break;
        }
        return false;
    }
    if (watched == m_Label1 || watched == m_Label2 || watched == m_Image1) {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (watched == m_Label1)
                return labelEvent(event);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The title passes its pointer events on as if they happened at (1, 1) with the left button and
// shift; a click on it is no click on the bar.
bool SkinCaptionBar::labelEvent(QEvent *event)
{
    auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseMove:
        followDrag(mouse->globalPosition(), mouse->buttons());
        UserControl_MouseMove(1, 1, 1.0f, 1.0f);
        break;
    case QEvent::MouseButtonPress:
        m_PressedHere = false;
        m_DragGlobal = mouse->globalPosition();
        UserControl_MouseDown(1, 1, 1.0f, 1.0f);
        break;
    case QEvent::MouseButtonRelease:
        endOwnDrag();
        UserControl_MouseUp(1, 1, 1.0f, 1.0f);
        break;
    case QEvent::MouseButtonDblClick:
        m_DragArmed = false;
        endOwnDrag();
        if (mouse->button() == Qt::LeftButton)
            UserControl_DblClick();
        break;
    default:
        break;
    }
    return true;
}

void SkinCaptionBar::mouseMoveEvent(QMouseEvent *event)
{
    followDrag(event->globalPosition(), event->buttons());
    const QPointF p = event->position();
    UserControl_MouseMove(vbButtons(event->buttons()), vbShift(event->modifiers()), float(p.x()),
                          float(p.y()));
}

void SkinCaptionBar::mousePressEvent(QMouseEvent *event)
{
    m_PressedHere = true;
    m_AfterDblClick = false;
    m_DragGlobal = event->globalPosition();
    const QPointF p = event->position();
    UserControl_MouseDown(vbButton(event->button()), vbShift(event->modifiers()), float(p.x()),
                          float(p.y()));
}

void SkinCaptionBar::mouseReleaseEvent(QMouseEvent *event)
{
    endOwnDrag();
    m_DragArmed = false;
    const QPointF p = event->position();
    UserControl_MouseUp(vbButton(event->button()), vbShift(event->modifiers()), float(p.x()),
                        float(p.y()));
    // A click: a left press and release on the bar, the release still over it, not the release
    // that ends a double-click.
    const bool click = m_PressedHere && !m_AfterDblClick && event->button() == Qt::LeftButton &&
                       rect().contains(p.toPoint());
    if (event->buttons() == Qt::NoButton) {
        m_PressedHere = false;
        m_AfterDblClick = false;
    }
    if (click)
        UserControl_Click();
}

void SkinCaptionBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double-click is no drag.
    m_DragArmed = false;
    endOwnDrag();
    m_PressedHere = true;
    m_AfterDblClick = true;
    if (event->button() == Qt::LeftButton)
        UserControl_DblClick();
}

// --- the Part of the bar that follows the pointer -----------------------------------------

void SkinCaptionBar::UserControl_MouseMove(int, int, float X, float Y)
{
    if (!m_ControlBox)
        return;
    if (!(m_FromTop < Y && Y < m_FromTop + m_PicClose.height()))
        return;
    const float W = float(width());
    if (xClose() < X && X < W - m_FromRight) {
        if (m_Style == 4)
            return;
        redrawButton("CLOSE3", m_PicClose, &SkinCaptionBar::xClose);
        m_HitButton = 0;
        m_OverButton = true;
    } else if (xMax() < X && X < xMax() + m_PicMax.width()) {
        if (m_Style == 0 || m_Style == 3)
            return;
        redrawButton(m_Maximized == 1 ? "RES2" : "MAX3", m_PicMax, &SkinCaptionBar::xMax);
        m_HitButton = 2;
        m_OverButton = true;
    } else if (xMin() < X && X < xMin() + m_PicMin.width()) {
        if (m_Style == 0)
            return;
        redrawButton("MIN3", m_PicMin, &SkinCaptionBar::xMin);
        m_HitButton = 1;
        m_OverButton = true;
    } else if (xOnTop() < X && X < xOnTop() + m_PicOnTop.width()) {
        if (!m_ShowOnTop)
            return;
        m_HitButton = 3;
        m_OverButton = true;
    } else {
        redrawButton("CLOSE", m_PicClose, &SkinCaptionBar::xClose);
        if (m_Style != 0) {
            redrawButton(m_Maximized == 1 ? "RES1" : "MAX", m_PicMax, &SkinCaptionBar::xMax);
            redrawButton("MIN", m_PicMin, &SkinCaptionBar::xMin);
        }
        m_OverButton = false;
    }
}

void SkinCaptionBar::UserControl_MouseDown(int, int, float, float)
{
    if (!m_OverButton) {
        BeginDrag();
        return;
    }
    if (!m_ControlBox)
        return;
    switch (m_HitButton) {
    case 0:
        redrawButton("CLOSE2", m_PicClose, &SkinCaptionBar::xClose);
        break;
    case 2:
        redrawButton(m_Maximized == 1 ? "RES3" : "MAX2", m_PicMax, &SkinCaptionBar::xMax);
        break;
    case 1:
        redrawButton("MIN2", m_PicMin, &SkinCaptionBar::xMin);
        break;
    default:
        break;
    }
}

void SkinCaptionBar::BeginDrag()
{
    if (!m_Movable || !m_Host)
        return;
    // A maximised host is never dragged. The move itself starts at the first motion with the
    // button held, so that the second press of a double-click moves nothing.
    if (m_Maximized != 1)
        m_DragArmed = true;
}

void SkinCaptionBar::followDrag(const QPointF &globalPos, Qt::MouseButtons buttons)
{
    if (buttons == Qt::NoButton) {
        // The release was lost (a platform move loop may swallow it): nothing is pressed.
        m_DragArmed = false;
        endOwnDrag();
        return;
    }
    if (!m_Host || m_Maximized == 1) {
        m_DragArmed = false;
        endOwnDrag();
        return;
    }
    if (m_DragArmed && globalPos != m_DragGlobal) {
        m_DragArmed = false;
        QWindow *handle = m_Host->windowHandle();
        // The platform's own move loop takes the pointer from here; the bar keeps no pressed
        // state, so a release it never sees leaves nothing behind.
        if (handle && handle->startSystemMove())
            return;
        m_OwnDrag = true;
        m_DragHostPos = m_Host->pos();
    }
    if (m_OwnDrag)
        m_Host->move(m_DragHostPos + (globalPos - m_DragGlobal).toPoint());
}

void SkinCaptionBar::endOwnDrag()
{
    m_OwnDrag = false;
}

void SkinCaptionBar::UserControl_MouseUp(int, int, float, float)
{
    if (!m_ControlBox || !m_OverButton)
        return;
    switch (m_HitButton) {
    case 0:
        redrawButton("CLOSE", m_PicClose, &SkinCaptionBar::xClose);
        break;
    case 2:
        // The maximise picture in either state: the command that follows resizes the host, and
        // the redraw after that shows the right one.
        redrawButton("MAX", m_PicMax, &SkinCaptionBar::xMax);
        break;
    case 1:
        redrawButton("MIN", m_PicMin, &SkinCaptionBar::xMin);
        break;
    default:
        break;
    }
}

void SkinCaptionBar::UserControl_Click()
{
    if (!m_ControlBox || !m_OverButton || !m_Host)
        return;
    switch (m_HitButton) {
    case 0:
        if (m_Style != 4)
            m_Host->close();
        break;
    case 3:
        if (m_OnTop) {
            setStaysOnTop(m_Host, false);
            m_OnTop = false;
            redrawButton("ONTOP1", m_PicOnTop, &SkinCaptionBar::xOnTop);
        } else {
            setStaysOnTop(m_Host, true);
            m_OnTop = true;
            redrawButton("ONTOP3", m_PicOnTop, &SkinCaptionBar::xOnTop);
        }
        break;
    case 2: {
        if (m_Style == 3)
            break;
        const QSize before = m_Host->size();
        if (m_Maximized == 1) {
            m_Maximized = 0;
            if (!workArea()) {
                printOnSurface(workAreaFailureText());
                break;
            }
            restoreSavedBounds();
        } else {
            m_Maximized = 1;
            const auto area = workArea();
            if (!area) {
                printOnSurface(workAreaFailureText());
                break;
            }
            saveHostBounds();
            applyWorkAreaPlacement(*area, false);
        }
        // A host whose size did not change raises no resize; run its bookkeeping anyway so
        // that Style2 and AllowResize follow the new state.
        if (m_Host && m_Host->size() == before)
            UserControl_Resize();
        break;
    }
    case 1:
        m_Host->setWindowState((m_Host->windowState() & ~Qt::WindowMaximized) |
                               Qt::WindowMinimized);
        m_Style2 = 0;
        break;
    default:
        break;
    }
}

void SkinCaptionBar::UserControl_DblClick()
{
    if (m_OverButton || m_Style == 0 || m_Style == 3 || !m_Host)
        return;
    const QSize before = m_Host->size();
    if (m_Maximized == 1) {
        m_Maximized = 0;
        restoreSavedBounds();
    } else {
        AllowResize = false;
        m_Maximized = 1;
        const auto area = workArea();
        if (!area) {
            printOnSurface(workAreaFailureText());
            return;
        }
        saveHostBounds();
        applyWorkAreaPlacement(*area, true);
    }
    if (m_Host && m_Host->size() == before)
        UserControl_Resize();
}

// --- the host window ----------------------------------------------------------------------

void SkinCaptionBar::setWorkAreaQuery(WorkAreaQuery query)
{
    workAreaQueryOverride() = std::move(query);
}

std::optional<QRect> SkinCaptionBar::workArea() const
{
    if (workAreaQueryOverride())
        return workAreaQueryOverride()(m_Host);
    QScreen *screen = m_Host ? m_Host->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

// Position by the first matching row, then (or first) the size of the work area.
void SkinCaptionBar::applyWorkAreaPlacement(const QRect &area, bool positionFirst)
{
    const int left = area.x(), top = area.y();
    const int right = area.x() + area.width(), bottom = area.y() + area.height();
    auto position = [&] {
        if (bottom > 0 && left == 0 && top == 0) {
            setHostLeft(0);
            setHostTop(0);
        } else if (left > 0 && top == 0) {
            setHostLeft(left * kTwipsPerPixel);
            setHostTop(0);
        } else if (top > 0 && left == 0) {
            setHostLeft(0);
            setHostTop(top * kTwipsPerPixel);
        } else if (right > 0 && top == 0) {
            setHostLeft(0);
            setHostTop(0);
        }
    };
    auto size = [&] {
        setHostWidth((right - left) * kTwipsPerPixel);
        setHostHeight((bottom - top) * kTwipsPerPixel);
    };
    if (positionFirst) {
        position();
        size();
    } else {
        size();
        position();
    }
}

void SkinCaptionBar::saveBounds(const QRect &frame)
{
    m_SavedWidth = frame.width() * kTwipsPerPixel;
    m_SavedHeight = frame.height() * kTwipsPerPixel;
    m_SavedLeft = frame.x() * kTwipsPerPixel;
    m_SavedTop = frame.y() * kTwipsPerPixel;
}

void SkinCaptionBar::saveHostBounds()
{
    m_SavedWidth = hostWidth();
    m_SavedHeight = hostHeight();
    m_SavedLeft = hostLeft();
    m_SavedTop = hostTop();
}

void SkinCaptionBar::restoreSavedBounds()
{
    setHostWidth(m_SavedWidth);
    setHostHeight(m_SavedHeight);
    setHostLeft(m_SavedLeft);
    setHostTop(m_SavedTop);
}

int SkinCaptionBar::hostWindowState() const
{
    if (!m_Host)
        return 0;
    const Qt::WindowStates state = m_Host->windowState();
    if (state.testFlag(Qt::WindowMinimized))
        return 1;
    if (state.testFlag(Qt::WindowMaximized))
        return 2;
    return 0;
}

// The host's outer bounds in twips: its frame, which for a frameless host is its client area.
int SkinCaptionBar::hostWidth() const
{
    return m_Host ? m_Host->frameGeometry().width() * kTwipsPerPixel : 0;
}

int SkinCaptionBar::hostHeight() const
{
    return m_Host ? m_Host->frameGeometry().height() * kTwipsPerPixel : 0;
}

int SkinCaptionBar::hostLeft() const
{
    return m_Host ? m_Host->frameGeometry().x() * kTwipsPerPixel : 0;
}

int SkinCaptionBar::hostTop() const
{
    return m_Host ? m_Host->frameGeometry().y() * kTwipsPerPixel : 0;
}

void SkinCaptionBar::setHostWidth(int twips)
{
    if (!m_Host)
        return;
    const int frame = m_Host->frameGeometry().width() - m_Host->width();
    m_Host->resize(qMax(0, toPixels(twips) - frame), m_Host->height());
}

void SkinCaptionBar::setHostHeight(int twips)
{
    if (!m_Host)
        return;
    const int frame = m_Host->frameGeometry().height() - m_Host->height();
    m_Host->resize(m_Host->width(), qMax(0, toPixels(twips) - frame));
}

void SkinCaptionBar::setHostLeft(int twips)
{
    if (m_Host)
        m_Host->move(toPixels(twips), m_Host->frameGeometry().y());
}

void SkinCaptionBar::setHostTop(int twips)
{
    if (m_Host)
        m_Host->move(m_Host->frameGeometry().x(), toPixels(twips));
}
