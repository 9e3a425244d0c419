#include "skin/skincaptionbar.h"

#include "skin/olecolour.h"
#include "skin/skinload.h"
#include "skin/staysontop.h"

#include <QAbstractButton>
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

int toPixels(int twips)
{
    return int(std::lround(double(twips) / SkinCaptionBar::kTwipsPerPixel));
}

// A caption button as screen readers and keyboard tools see it: the bar paints the button, this
// stand-in over it draws nothing and lets the pointer through to the bar, but has a name and a
// press action.
class CaptionButtonStandIn : public QAbstractButton
{
public:
    explicit CaptionButtonStandIn(QWidget *parent) : QAbstractButton(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override {}
};

} // namespace

SkinCaptionBar::SkinCaptionBar(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    // Stacking from the bottom: the icon, the shadow copy of the title, the title.
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("Image1"));
    m_icon->setFixedSize(16, 16);
    m_icon->setScaledContents(true);
    m_titleShadow = new QLabel(this);
    m_titleShadow->setObjectName(QStringLiteral("Label2"));
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("Label1"));
    const QString initial = QStringLiteral("酷毙了的 XP 窗体控件 (支持换皮肤)");
    for (QLabel *label : {m_titleShadow, m_title}) {
        label->setFont(captionFont());
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setAutoFillBackground(false);
        label->setText(initial);
        label->adjustSize();
    }
    // All three take the pointer's events: the title passes them on, the shadow and the icon
    // swallow them (a press on the icon does not drag).
    for (QLabel *label : {m_icon, m_titleShadow, m_title}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
    setLabelColour(m_title, kDefaultForeColor);
    setLabelColour(m_titleShadow, kDefaultBackColor);
    const std::pair<CaptionButton, const char *> standIns[] = {
        {CloseButton, "CaptionClose"},
        {MaximiseButton, "CaptionMaximise"},
        {MinimiseButton, "CaptionMinimise"},
        {StayOnTopButton, "CaptionStayOnTop"}};
    for (const auto &[button, name] : standIns) {
        auto *standIn = new CaptionButtonStandIn(this);
        standIn->setObjectName(QLatin1String(name));
        standIn->hide();
        connect(standIn, &QAbstractButton::clicked, this,
                [this, button = button] { pressButton(button); });
        m_standIns[button] = standIn;
    }
    setCursor(Qt::ArrowCursor);
}

SkinCaptionBar::~SkinCaptionBar() = default;

QWidget *SkinCaptionBar::host() const
{
    QWidget *parent = parentWidget();
    return parent ? parent->window() : nullptr;
}

// --- properties ---------------------------------------------------------------------------

// A change of what the bar shows takes effect at the next paint: the buttons as the properties
// now say, in their normal pictures.
void SkinCaptionBar::setControlBox(bool on)
{
    m_controlBox = on;
    showNormalButtons();
}

void SkinCaptionBar::setMovable(bool on)
{
    m_movable = on;
    // A movable bar shows the ordinary arrow; an unmovable one whatever its host shows.
    if (on)
        setCursor(Qt::ArrowCursor);
    else
        unsetCursor();
}

void SkinCaptionBar::setOnTop(bool on)
{
    m_onTop = on;
    setStaysOnTop(host(), on);
}

void SkinCaptionBar::setSkinFile(const QString &path)
{
    m_skinFile = path;
    loadSkin();
}

void SkinCaptionBar::setShowIcon(bool on)
{
    m_showIcon = on;
    applyLabels();
}

void SkinCaptionBar::setShowStayOnTopButton(bool on)
{
    m_showOnTop = on;
    showNormalButtons();
}

void SkinCaptionBar::setCaptionStyle(int style)
{
    if (style == m_style)
        return;
    m_style = style;
    showNormalButtons();
    emit captionStyleChanged(style);
}

void SkinCaptionBar::setWindowModeValue(int mode)
{
    if (mode >= Minimised && mode <= Normal)
        setWindowMode(WindowMode(mode));
}

quint32 SkinCaptionBar::backColor() const
{
    return m_titleShadow->property(kOleProperty).toUInt();
}

void SkinCaptionBar::setBackColor(quint32 ole)
{
    setLabelColour(m_titleShadow, ole);
}

quint32 SkinCaptionBar::foreColor() const
{
    return m_title->property(kOleProperty).toUInt();
}

void SkinCaptionBar::setForeColor(quint32 ole)
{
    setLabelColour(m_title, ole);
}

QVariant SkinCaptionBar::REDRAW()
{
    loadSkin();
    repaint();
    return QVariant();
}

// --- layout -------------------------------------------------------------------------------

CaptionLayout SkinCaptionBar::layoutFor(int width) const
{
    CaptionLayout::Pictures pictures;
    pictures.middleWidth = m_topMid.width();
    pictures.rightWidth = m_topRight.width();
    pictures.close = QSize(m_closePicture.width(), m_closePicture.height());
    pictures.maximise = QSize(m_maxPicture.width(), m_maxPicture.height());
    pictures.minimise = QSize(m_minPicture.width(), m_minPicture.height());
    pictures.stayOnTop = QSize(m_onTopPicture.width(), m_onTopPicture.height());
    return CaptionLayout(QSize(width, m_barHeight), m_metrics, pictures);
}

void SkinCaptionBar::loadSkin()
{
    QWidget *hostWindow = host();

    m_topLeft = SkinPicture();
    m_topMid = SkinPicture();
    m_topRight = SkinPicture();
    SkinLoad load(m_skinFile);
    load.picture("TOPLEFT", m_topLeft).picture("TOPMID", m_topMid).picture("TOPRIGHT", m_topRight);
    load.number("XOFFSET", m_metrics.xOffset)
        .number("XOFFSET2", m_metrics.xOffset2)
        .number("YOFFSET", m_metrics.yOffset)
        .number("FROMRIGHT", m_metrics.fromRight)
        .number("FROMTOP", m_metrics.fromTop)
        .number("ICONSPACE", m_metrics.iconSpace);
    load.colour("FORECOLOR", m_surfaceFore).colour("BackColor", m_surfaceBack);
    m_skin = load.store();
    if (hostWindow) {
        if (auto parentBack = m_skin->colour(QStringLiteral("PARENTBACKCOLOR"))) {
            const QColor colour = colourFromOle(*parentBack);
            QPalette palette = hostWindow->palette();
            if (palette.color(QPalette::Window) != colour || !hostWindow->autoFillBackground()) {
                palette.setColor(QPalette::Window, colour);
                hostWindow->setPalette(palette);
                hostWindow->setAutoFillBackground(true);
            }
        }
    }

    // However tall the skin's TOPLEFT, the bar stays a bar: it never covers the window's own
    // controls below it. The skin's numbers place things within the bar: a far-out value cannot
    // put a button or the title outside it, or the buttons' reach over the window.
    const int barHeight = qMin(m_topLeft.height(), kMaxBarHeight);
    m_metrics = m_metrics.boundedTo(hostWindow ? hostWindow->width() : width(), barHeight);
    const bool heightChanged = barHeight != m_barHeight;
    m_barHeight = barHeight;

    // Fresh button pictures: a picture the skin lacks is no picture.
    m_closePicture = SkinPicture();
    m_maxPicture = SkinPicture();
    m_minPicture = SkinPicture();
    m_onTopPicture = SkinPicture();
    refreshWindowMode();
    showNormalButtons();
    applyLabels();

    if (heightChanged)
        emit barHeightChanged(m_barHeight);
}

void SkinCaptionBar::showNormalButtons()
{
    if (m_skin) {
        const auto load = [this](const char *key, SkinPicture &target) {
            if (auto picture = m_skin->picture(QLatin1String(key)))
                target.load(*picture);
        };
        load("CLOSE", m_closePicture);
        // While minimised the maximise/restore button gets no new picture.
        if (m_mode != Minimised)
            load(m_maximised ? "RES1" : "MAX", m_maxPicture);
        load("MIN", m_minPicture);
        load(m_onTop ? "ONTOP3" : "ONTOP1", m_onTopPicture);
    }
    // Printed text goes with the pictures it was printed over.
    m_printed.clear();
    placeStandIns();
    m_textPos = QPoint();
    update();
}

void SkinCaptionBar::refreshWindowMode()
{
    if (m_maximised)
        setWindowMode(Maximised);
    else if (hostMinimised())
        setWindowMode(Minimised);
    else
        setWindowMode(Normal);
}

void SkinCaptionBar::setWindowMode(WindowMode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    // The maximise/restore button shows the picture of the new mode.
    if (m_skin && mode != Minimised) {
        if (auto picture = m_skin->picture(QLatin1String(m_maximised ? "RES1" : "MAX")))
            m_maxPicture.load(*picture);
        update();
    }
    emit windowModeChanged(mode);
}

// The title text, label places and colours, the icon.
void SkinCaptionBar::applyLabels()
{
    QWidget *hostWindow = host();
    const QString caption = hostWindow ? hostWindow->windowTitle() : QString();
    for (QLabel *label : {m_title, m_titleShadow}) {
        if (label->text() != caption) {
            label->setText(caption);
            label->adjustSize();
        }
    }
    // Placed for the host's width, which the bar is about to take if it has not yet.
    const CaptionLayout layout = layoutFor(hostWindow ? hostWindow->width() : width());
    m_title->move(layout.title());
    m_titleShadow->move(layout.titleShadow());
    setLabelColour(m_title, m_surfaceFore);
    setLabelColour(m_titleShadow, m_surfaceBack);

    m_icon->move(layout.icon());
    m_icon->setVisible(m_showIcon);
    if (m_showIcon && hostWindow) {
        const QIcon icon = hostWindow->windowIcon();
        if (!icon.isNull()) {
            const QPixmap pixmap = icon.pixmap(QSize(16, 16));
            if (pixmap.cacheKey() != m_icon->pixmap().cacheKey())
                m_icon->setPixmap(pixmap);
        }
    }
}

void SkinCaptionBar::showTitleAndIcon()
{
    applyLabels();
}

void SkinCaptionBar::redrawButton(const char *key, SkinPicture &target, CaptionButton button)
{
    // A skin without this picture: nothing is drawn and the button keeps its picture.
    const auto picture = m_skin ? m_skin->picture(QLatin1String(key)) : std::nullopt;
    if (!picture)
        return;
    target.load(*picture);
    update(layout().button(CaptionLayout::Button(button)));
}

void SkinCaptionBar::printOnSurface(const QString &text)
{
    m_printed.push_back({text, colourFromOle(m_surfaceFore), m_textPos});
    const QFontMetrics metrics(font());
    update(QRect(m_textPos, QSize(metrics.horizontalAdvance(text) + 1, metrics.height())));
    m_textPos = QPoint(0, m_textPos.y() + metrics.height());
}

const QString &SkinCaptionBar::workAreaFailureText()
{
    static const QString text = QStringLiteral("调用 SystemParametersInfo 失败");
    return text;
}

void SkinCaptionBar::paintEvent(QPaintEvent *)
{
    // A skin file replaced on disk shows at the next paint. The check is a file status check
    // through the skin cache; the new height, if any, reaches the frame after this paint.
    if (m_skin && SkinStore::load(m_skinFile) != m_skin)
        QMetaObject::invokeMethod(this, &SkinCaptionBar::loadSkin, Qt::QueuedConnection);

    QPainter painter(this);
    painter.fillRect(rect(), colourFromOle(m_surfaceBack));
    const CaptionLayout layout = this->layout();
    if (!m_topMid.isEmpty()) {
        for (int x : layout.middleTiles())
            m_topMid.paint(painter, x, 0);
    }
    m_topLeft.paint(painter, 0, 0);
    m_topRight.paint(painter, layout.rightEnd().x(), layout.rightEnd().y());

    // The buttons as the properties say, each in the picture it shows now.
    const auto paintButton = [&](const SkinPicture &picture, CaptionLayout::Button button) {
        picture.paint(painter, layout.button(button).x(), layout.button(button).y());
    };
    if (m_controlBox) {
        paintButton(m_closePicture, CaptionLayout::Close);
        if (m_style != CloseOnly) {
            paintButton(m_maxPicture, CaptionLayout::Maximise);
            paintButton(m_minPicture, CaptionLayout::Minimise);
        }
    }
    if (m_showOnTop)
        paintButton(m_onTopPicture, CaptionLayout::StayOnTop);

    painter.setFont(font());
    for (const PrintedText &printed : m_printed) {
        painter.setPen(printed.colour);
        painter.drawText(QRect(printed.at, QSize(width(), height())),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, printed.text);
    }
}

// --- events -------------------------------------------------------------------------------

void SkinCaptionBar::resizeEvent(QResizeEvent *)
{
    loadSkin();
}

void SkinCaptionBar::showEvent(QShowEvent *)
{
    loadSkin();
}

void SkinCaptionBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        loadSkin();
    QWidget::changeEvent(event);
}

// The pointer left the bar: hover and pressed pictures go, the pointer state stays.
void SkinCaptionBar::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (!m_ownDrag && QGuiApplication::mouseButtons() == Qt::NoButton)
        showNormalButtons();
}

void SkinCaptionBar::followWindowState()
{
    QWidget *hostWindow = host();
    if (hostWindow && hostWindow->windowState().testFlag(Qt::WindowMaximized) &&
        !hostWindow->windowState().testFlag(Qt::WindowMinimized)) {
        // A host maximised by the platform becomes an ordinary window covering the work area,
        // held maximised by the bar. The bounds it returns to come from the bar's own record of
        // the host's last normal bounds (the platform may report its maximising more than once,
        // and later than the bar restores it); a host not yet shown has its record in
        // normalGeometry().
        QRect normal = m_normalFrame;
        if (!hostWindow->isVisible() || !normal.isValid()) {
            const QMargins frame = hostWindow->windowHandle()
                                       ? hostWindow->windowHandle()->frameMargins()
                                       : QMargins();
            normal = hostWindow->normalGeometry() + frame;
        }
        hostWindow->setWindowState(hostWindow->windowState() & ~Qt::WindowMaximized);
        m_maximised = true;
        if (const auto area = workArea()) {
            if (normal.isValid())
                saveBounds(normal);
            else
                saveHostBounds();
            applyWorkAreaPlacement(*area, true);
        }
    }
    refreshWindowMode();
}

void SkinCaptionBar::noteWindowBounds()
{
    QWidget *hostWindow = host();
    if (hostWindow && !m_maximised && hostWindow->windowState() == Qt::WindowNoState)
        m_normalFrame = hostWindow->frameGeometry();
}

bool SkinCaptionBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_title || watched == m_titleShadow || watched == m_icon) {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (watched == m_title)
                return titleEvent(event);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The title passes its pointer events on as if they happened at (1, 1); a click on it is no click
// on the bar.
bool SkinCaptionBar::titleEvent(QEvent *event)
{
    auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseMove:
        followDrag(mouse->globalPosition(), mouse->buttons());
        pointerMoved(QPointF(1, 1));
        break;
    case QEvent::MouseButtonPress:
        m_pressedHere = false;
        m_dragGlobal = mouse->globalPosition();
        pointerPressed();
        break;
    case QEvent::MouseButtonRelease:
        endOwnDrag();
        pointerReleased();
        break;
    case QEvent::MouseButtonDblClick:
        m_dragArmed = false;
        endOwnDrag();
        if (mouse->button() == Qt::LeftButton)
            doubleClicked();
        break;
    default:
        break;
    }
    return true;
}

void SkinCaptionBar::mouseMoveEvent(QMouseEvent *event)
{
    followDrag(event->globalPosition(), event->buttons());
    pointerMoved(event->position());
}

void SkinCaptionBar::mousePressEvent(QMouseEvent *event)
{
    m_pressedHere = true;
    m_afterDblClick = false;
    m_dragGlobal = event->globalPosition();
    pointerPressed();
}

void SkinCaptionBar::mouseReleaseEvent(QMouseEvent *event)
{
    endOwnDrag();
    m_dragArmed = false;
    const QPointF p = event->position();
    pointerReleased();
    // A click: a left press and release on the bar, the release still over it, not the release
    // that ends a double-click.
    const bool click = m_pressedHere && !m_afterDblClick && event->button() == Qt::LeftButton &&
                       rect().contains(p.toPoint());
    if (event->buttons() == Qt::NoButton) {
        m_pressedHere = false;
        m_afterDblClick = false;
    }
    if (click)
        clicked();
}

void SkinCaptionBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double-click is no drag.
    m_dragArmed = false;
    endOwnDrag();
    m_pressedHere = true;
    m_afterDblClick = true;
    if (event->button() == Qt::LeftButton)
        doubleClicked();
}

// --- buttons ------------------------------------------------------------------------------

void SkinCaptionBar::pointerMoved(QPointF at)
{
    if (!m_controlBox)
        return;
    // Outside the band nothing changes; within it, a button that does not react keeps the
    // pointer state as it was.
    const CaptionLayout layout = this->layout();
    if (!layout.inButtonBand(at))
        return;
    const auto button = layout.buttonAt(at);
    if (button == CaptionLayout::Close) {
        if (m_style == CloseDisabled)
            return;
        redrawButton("CLOSE3", m_closePicture, CloseButton);
        m_hitButton = CloseButton;
        m_overButton = true;
    } else if (button == CaptionLayout::Maximise) {
        if (m_style == CloseOnly || m_style == MaximiseDisabled)
            return;
        redrawButton(m_maximised ? "RES2" : "MAX3", m_maxPicture, MaximiseButton);
        m_hitButton = MaximiseButton;
        m_overButton = true;
    } else if (button == CaptionLayout::Minimise) {
        if (m_style == CloseOnly)
            return;
        redrawButton("MIN3", m_minPicture, MinimiseButton);
        m_hitButton = MinimiseButton;
        m_overButton = true;
    } else if (button == CaptionLayout::StayOnTop) {
        if (!m_showOnTop)
            return;
        m_hitButton = StayOnTopButton;
        m_overButton = true;
    } else {
        redrawButton("CLOSE", m_closePicture, CloseButton);
        if (m_style != CloseOnly) {
            redrawButton(m_maximised ? "RES1" : "MAX", m_maxPicture, MaximiseButton);
            redrawButton("MIN", m_minPicture, MinimiseButton);
        }
        m_overButton = false;
    }
}

void SkinCaptionBar::pointerPressed()
{
    if (!m_overButton) {
        beginDrag();
        return;
    }
    if (!m_controlBox)
        return;
    switch (m_hitButton) {
    case CloseButton:
        redrawButton("CLOSE2", m_closePicture, CloseButton);
        break;
    case MaximiseButton:
        redrawButton(m_maximised ? "RES3" : "MAX2", m_maxPicture, MaximiseButton);
        break;
    case MinimiseButton:
        redrawButton("MIN2", m_minPicture, MinimiseButton);
        break;
    case StayOnTopButton:
        break;
    }
}

void SkinCaptionBar::beginDrag()
{
    if (!m_movable || !host())
        return;
    // A maximised host is never dragged. The move itself starts at the first motion with the
    // button held, so that the second press of a double-click moves nothing.
    if (!m_maximised)
        m_dragArmed = true;
}

void SkinCaptionBar::followDrag(const QPointF &globalPos, Qt::MouseButtons buttons)
{
    QWidget *hostWindow = host();
    if (buttons == Qt::NoButton || !hostWindow || m_maximised) {
        // The release was lost (a platform move loop may swallow it), or there is nothing to
        // move.
        m_dragArmed = false;
        endOwnDrag();
        return;
    }
    if (m_dragArmed && globalPos != m_dragGlobal) {
        m_dragArmed = false;
        QWindow *handle = hostWindow->windowHandle();
        // The platform's own move loop takes the pointer from here; the bar keeps no pressed
        // state, so a release it never sees leaves nothing behind.
        if (handle && handle->startSystemMove())
            return;
        m_ownDrag = true;
        m_dragHostPos = hostWindow->pos();
    }
    if (m_ownDrag)
        hostWindow->move(m_dragHostPos + (globalPos - m_dragGlobal).toPoint());
}

void SkinCaptionBar::endOwnDrag()
{
    m_ownDrag = false;
}

void SkinCaptionBar::pointerReleased()
{
    if (!m_controlBox || !m_overButton)
        return;
    switch (m_hitButton) {
    case CloseButton:
        redrawButton("CLOSE", m_closePicture, CloseButton);
        break;
    case MaximiseButton:
        // The maximise picture in either state: the command that follows changes the mode, and
        // with it the picture.
        redrawButton("MAX", m_maxPicture, MaximiseButton);
        break;
    case MinimiseButton:
        redrawButton("MIN", m_minPicture, MinimiseButton);
        break;
    case StayOnTopButton:
        break;
    }
}

void SkinCaptionBar::clicked()
{
    if (!m_overButton)
        return;
    pressButton(m_hitButton);
}

void SkinCaptionBar::placeStandIns()
{
    const CaptionLayout layout = this->layout();
    const QRect reach = rect();
    const auto place = [&](CaptionButton button, bool shown, const QString &name) {
        QAbstractButton *standIn = m_standIns[button];
        const QRect at = layout.button(CaptionLayout::Button(button)).intersected(reach);
        standIn->setGeometry(at.isEmpty() ? QRect() : at);
        standIn->setAccessibleName(name);
        standIn->setVisible(shown && !at.isEmpty());
    };
    place(CloseButton, m_controlBox, tr("关闭"));
    place(MaximiseButton, m_controlBox && m_style != CloseOnly,
          m_maximised ? tr("还原") : tr("最大化"));
    place(MinimiseButton, m_controlBox && m_style != CloseOnly, tr("最小化"));
    place(StayOnTopButton, m_showOnTop, tr("总在最前"));
    m_standIns[StayOnTopButton]->setCheckable(true);
    m_standIns[StayOnTopButton]->setChecked(m_onTop);
}

void SkinCaptionBar::pressButton(CaptionButton button)
{
    QWidget *hostWindow = host();
    if (!m_controlBox || !hostWindow)
        return;
    switch (button) {
    case CloseButton:
        if (m_style != CloseDisabled)
            hostWindow->close();
        break;
    case StayOnTopButton:
        m_onTop = !m_onTop;
        setStaysOnTop(hostWindow, m_onTop);
        redrawButton(m_onTop ? "ONTOP3" : "ONTOP1", m_onTopPicture, StayOnTopButton);
        break;
    case MaximiseButton:
        if (m_style == MaximiseDisabled)
            break;
        if (m_maximised) {
            m_maximised = false;
            if (!workArea()) {
                printOnSurface(workAreaFailureText());
                break;
            }
            restoreSavedBounds();
        } else {
            maximise(false);
        }
        // Every maximise and restore updates the mode at once, whether or not the host's size
        // changed (it may keep its width, or all of its bounds).
        refreshWindowMode();
        break;
    case MinimiseButton:
        hostWindow->setWindowState((hostWindow->windowState() & ~Qt::WindowMaximized) |
                                   Qt::WindowMinimized);
        setWindowMode(Minimised);
        break;
    }
}

void SkinCaptionBar::doubleClicked()
{
    if (m_overButton || m_style == CloseOnly || m_style == MaximiseDisabled || !host())
        return;
    if (m_maximised) {
        m_maximised = false;
        restoreSavedBounds();
    } else {
        maximise(true);
    }
    refreshWindowMode();
}

// Holds the host maximised over the work area; a failed work-area query prints its failure and
// leaves the bounds alone.
void SkinCaptionBar::maximise(bool positionFirst)
{
    m_maximised = true;
    const auto area = workArea();
    if (!area) {
        printOnSurface(workAreaFailureText());
        return;
    }
    saveHostBounds();
    applyWorkAreaPlacement(*area, positionFirst);
}

// --- the host window ----------------------------------------------------------------------

void SkinCaptionBar::setWorkAreaQuery(WorkAreaQuery query)
{
    workAreaQueryOverride() = std::move(query);
}

std::optional<QRect> SkinCaptionBar::workArea() const
{
    QWidget *hostWindow = host();
    if (workAreaQueryOverride())
        return workAreaQueryOverride()(hostWindow);
    QScreen *screen = hostWindow ? hostWindow->screen() : QGuiApplication::primaryScreen();
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
    m_savedBounds = QRect(frame.x() * kTwipsPerPixel, frame.y() * kTwipsPerPixel,
                          frame.width() * kTwipsPerPixel, frame.height() * kTwipsPerPixel);
}

// The host's outer bounds: its frame, which for a frameless host is its client area.
void SkinCaptionBar::saveHostBounds()
{
    if (QWidget *hostWindow = host())
        saveBounds(hostWindow->frameGeometry());
}

void SkinCaptionBar::restoreSavedBounds()
{
    setHostWidth(m_savedBounds.width());
    setHostHeight(m_savedBounds.height());
    setHostLeft(m_savedBounds.x());
    setHostTop(m_savedBounds.y());
}

bool SkinCaptionBar::hostMinimised() const
{
    QWidget *hostWindow = host();
    return hostWindow && hostWindow->windowState().testFlag(Qt::WindowMinimized);
}

void SkinCaptionBar::setHostWidth(int twips)
{
    if (QWidget *h = host()) {
        const int frame = h->frameGeometry().width() - h->width();
        h->resize(qMax(0, toPixels(twips) - frame), h->height());
    }
}

void SkinCaptionBar::setHostHeight(int twips)
{
    if (QWidget *h = host()) {
        const int frame = h->frameGeometry().height() - h->height();
        h->resize(h->width(), qMax(0, toPixels(twips) - frame));
    }
}

void SkinCaptionBar::setHostLeft(int twips)
{
    if (QWidget *h = host())
        h->move(toPixels(twips), h->frameGeometry().y());
}

void SkinCaptionBar::setHostTop(int twips)
{
    if (QWidget *h = host())
        h->move(h->frameGeometry().x(), toPixels(twips));
}
