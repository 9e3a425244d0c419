#include "mainwindow/helppictures.h"

#include "mainwindow/cjkfont.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

// Simple drawings of the browser screens the help window walks through. They show the parts the
// instructions name (the Tools menu, the Advanced tab, the warning option); the rest is hinted.
namespace {

const QColor kFace(0xEC, 0xE9, 0xD8);
const QColor kDark(0x80, 0x80, 0x80);
const QColor kArrow(0xE0, 0x10, 0x10);

// A red arrow from tail to tip, with a filled head at the tip.
void drawArrow(QPainter &p, QPointF tail, QPointF tip)
{
    const QLineF line(tail, tip);
    const qreal angle = qDegreesToRadians(line.angle());
    const qreal head = 13;
    const QPointF back = tip - QPointF(std::cos(angle) * head, -std::sin(angle) * head);
    const QPointF normal(std::sin(angle) * head * 0.55, std::cos(angle) * head * 0.55);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kArrow, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(tail, back);
    p.setPen(Qt::NoPen);
    p.setBrush(kArrow);
    p.drawPolygon(QPolygonF({tip, back + normal, back - normal}));
    p.restore();
}

// A captioned window's title bar across the top of the picture.
void drawTitleBar(QPainter &p, int width, const QString &title, bool help)
{
    QLinearGradient g(0, 0, 0, 22);
    g.setColorAt(0, QColor(0x3A, 0x80, 0xF0));
    g.setColorAt(1, QColor(0x0A, 0x4C, 0xD0));
    p.fillRect(0, 0, width, 22, g);
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, width - 80, 22), Qt::AlignLeft | Qt::AlignVCenter, title);
    // Caption buttons.
    int x = width - 22;
    const QStringList glyphs =
        help ? QStringList{QStringLiteral("×"), QStringLiteral("?")}
             : QStringList{QStringLiteral("×"), QStringLiteral("□"), QStringLiteral("_")};
    for (const QString &glyph : glyphs) {
        const QRect box(x, 3, 17, 16);
        p.fillRect(box, glyph == QStringLiteral("×") ? QColor(0xD8, 0x50, 0x30)
                                                     : QColor(0x30, 0x70, 0xE8));
        p.setPen(Qt::white);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.drawText(box, Qt::AlignCenter, glyph);
        x -= 20;
    }
}

void drawButton(QPainter &p, const QRect &r, const QString &text)
{
    p.fillRect(r, kFace);
    p.setPen(Qt::white);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(kDark);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignCenter, text);
}

// The dialog's tab row; returns the rectangle of the named tab.
QRect drawTabs(QPainter &p, int top, const QString &selected)
{
    const QStringList tabs = {QStringLiteral("常规"), QStringLiteral("安全"),
                              QStringLiteral("隐私"), QStringLiteral("内容"),
                              QStringLiteral("连接"), QStringLiteral("程序"),
                              QStringLiteral("高级")};
    QRect found;
    int x = 8;
    for (const QString &tab : tabs) {
        const bool on = tab == selected;
        const QRect r(x, on ? top : top + 2, 42, on ? 22 : 20);
        p.fillRect(r, on ? kFace : QColor(0xF4, 0xF3, 0xEE));
        p.setPen(kDark);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(Qt::black);
        p.drawText(r, Qt::AlignCenter, tab);
        if (tab == QStringLiteral("高级"))
            found = r;
        x += 44;
    }
    return found;
}

void drawCheckBox(QPainter &p, int x, int y, bool checked)
{
    const QRect box(x, y, 11, 11);
    p.fillRect(box, Qt::white);
    p.setPen(QColor(0x1C, 0x51, 0x80));
    p.drawRect(box);
    if (checked) {
        p.setPen(QPen(QColor(0x21, 0xA1, 0x21), 2));
        p.drawPolyline(
            QPolygon({QPoint(x + 2, y + 5), QPoint(x + 4, y + 8), QPoint(x + 9, y + 2)}));
    }
}

QPixmap blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(kFace);
    return pixmap;
}

} // namespace

QPixmap drawMenuBarPicture()
{
    QPixmap pixmap = blank(337, 176);
    QPainter p(&pixmap);
    p.setFont(cjkFont(12));
    drawTitleBar(p, 337, QStringLiteral("空白页 - 网页浏览器"), false);

    // Menu bar, Tools highlighted as if just clicked.
    const QStringList menus = {QStringLiteral("文件(F)"), QStringLiteral("编辑(E)"),
                               QStringLiteral("查看(V)"), QStringLiteral("收藏(A)"),
                               QStringLiteral("工具(T)"), QStringLiteral("帮助(H)")};
    QRect tools;
    int x = 6;
    for (const QString &menu : menus) {
        const int w = p.fontMetrics().horizontalAdvance(menu) + 12;
        const QRect r(x, 23, w, 20);
        if (menu.startsWith(QStringLiteral("工具"))) {
            tools = r;
            p.fillRect(r, QColor(0x31, 0x6A, 0xC5));
            p.setPen(Qt::white);
        } else {
            p.setPen(Qt::black);
        }
        p.drawText(r, Qt::AlignCenter, menu);
        x += w;
    }
    p.setPen(kDark);
    p.drawLine(0, 44, 337, 44);

    // Toolbar and address bar.
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 2; ++i) {
        p.setBrush(QColor(0x3C, 0xA0, 0x3C));
        p.setPen(QColor(0x20, 0x70, 0x20));
        p.drawEllipse(QPoint(18 + i * 28, 58), 10, 10);
        p.setPen(QPen(Qt::white, 2));
        const int c = 18 + i * 28;
        const int d = i == 0 ? -1 : 1;
        p.drawLine(c - 4 * d, 58, c + 4 * d, 58);
        p.drawLine(c - 4 * d, 58, c, 54);
        p.drawLine(c - 4 * d, 58, c, 62);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(kDark);
    p.drawLine(0, 72, 337, 72);
    p.setPen(Qt::black);
    p.drawText(QRect(6, 74, 60, 20), Qt::AlignVCenter, QStringLiteral("地址(D)"));
    p.fillRect(QRect(62, 76, 268, 16), Qt::white);
    p.setPen(QColor(0x7F, 0x9D, 0xB9));
    p.drawRect(QRect(62, 76, 268, 16));
    p.setPen(Qt::black);
    p.drawText(QRect(66, 76, 260, 16), Qt::AlignVCenter, QStringLiteral("about:blank"));

    // The page itself.
    p.fillRect(QRect(0, 96, 337, 80), Qt::white);
    p.setPen(kDark);
    p.drawLine(0, 96, 337, 96);

    drawArrow(p, QPointF(tools.center().x() + 70, 122),
              QPointF(tools.center().x() + 4, tools.bottom() + 3));
    return pixmap;
}

QPixmap drawOptionsDialogPicture()
{
    QPixmap pixmap = blank(398, 180);
    QPainter p(&pixmap);
    p.setFont(cjkFont(12));
    drawTitleBar(p, 398, QStringLiteral("Internet 选项"), true);
    const QRect advanced = drawTabs(p, 30, QStringLiteral("常规"));

    // The General page under the tabs.
    const QRect page(6, 52, 386, 122);
    p.setPen(kDark);
    p.drawRect(page);
    p.setPen(Qt::black);
    p.drawText(QRect(16, 56, 200, 18), Qt::AlignVCenter, QStringLiteral("主页"));
    p.drawText(QRect(48, 76, 140, 18), Qt::AlignVCenter, QStringLiteral("地址(R):"));
    p.fillRect(QRect(110, 78, 270, 15), Qt::white);
    p.setPen(QColor(0x7F, 0x9D, 0xB9));
    p.drawRect(QRect(110, 78, 270, 15));
    p.setPen(Qt::black);
    p.drawText(QRect(114, 78, 260, 15), Qt::AlignVCenter, QStringLiteral("about:blank"));
    drawButton(p, QRect(110, 98, 84, 20), QStringLiteral("使用当前页"));
    drawButton(p, QRect(202, 98, 84, 20), QStringLiteral("使用默认页"));
    drawButton(p, QRect(294, 98, 86, 20), QStringLiteral("使用空白页"));
    p.drawText(QRect(16, 126, 200, 18), Qt::AlignVCenter, QStringLiteral("浏览历史记录"));
    drawButton(p, QRect(202, 148, 84, 20), QStringLiteral("删除(D)..."));
    drawButton(p, QRect(294, 148, 86, 20), QStringLiteral("设置(S)"));

    drawArrow(p, QPointF(advanced.right() + 40, 112),
              QPointF(advanced.center().x() + 4, advanced.bottom() + 3));
    return pixmap;
}

QPixmap drawAdvancedSettingsPicture()
{
    QPixmap pixmap = blank(397, 360);
    QPainter p(&pixmap);
    p.setFont(cjkFont(12));
    drawTitleBar(p, 397, QStringLiteral("Internet 选项"), true);
    drawTabs(p, 30, QStringLiteral("高级"));

    const QRect page(6, 52, 385, 300);
    p.setPen(kDark);
    p.drawRect(page);
    p.setPen(Qt::black);
    p.drawText(QRect(14, 56, 100, 18), Qt::AlignVCenter, QStringLiteral("设置:"));

    // The settings list, scrolled down to its security section.
    const QRect list(14, 76, 369, 196);
    p.fillRect(list, Qt::white);
    p.setPen(QColor(0x7F, 0x9D, 0xB9));
    p.drawRect(list);
    const QRect scroll(list.right() - 16, list.top() + 1, 16, list.height() - 1);
    p.fillRect(scroll, QColor(0xF0, 0xF0, 0xEA));
    p.fillRect(QRect(scroll.left() + 2, scroll.top() + 118, 12, 40), QColor(0xC1, 0xD3, 0xFB));
    p.setPen(kDark);
    p.drawRect(QRect(scroll.left() + 2, scroll.top() + 118, 12, 40));

    struct Item
    {
        const char *text;
        int kind; // 0 section heading, 1 checked, 2 unchecked
    };
    const Item items[] = {
        {"安全", 0},
        {"检查发行商的证书是否已吊销", 1},
        {"检查所下载的程序的签名", 1},
        {"启用集成身份验证", 1},
        {"使用 SSL 2.0", 2},
        {"使用 SSL 3.0", 1},
        {"使用 TLS 1.0", 1},
        {"在安全和非安全模式之间转换时发出警告", 1},
        {"对证书地址不匹配发出警告", 1},
        {"关闭浏览器时清空临时文件夹", 2},
        {"允许活动内容在我的计算机上运行", 2},
    };
    const QString target = QStringLiteral("在安全和非安全模式之间转换时发出警告");
    int y = list.top() + 3;
    for (const Item &item : items) {
        const QString text = QString::fromUtf8(item.text);
        if (item.kind == 0) {
            // A padlock for the section.
            p.setPen(QColor(0xA0, 0x80, 0x10));
            p.setBrush(QColor(0xF0, 0xC8, 0x30));
            p.drawRect(QRect(19, y + 6, 10, 8));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRect(21, y + 1, 6, 10), 0, 180 * 16);
            p.setPen(Qt::black);
            p.drawText(QRect(34, y, 300, 17), Qt::AlignVCenter, text);
        } else {
            drawCheckBox(p, 34, y + 3, item.kind == 1);
            p.setPen(Qt::black);
            const QRect r(50, y, 300, 17);
            p.drawText(r, Qt::AlignVCenter, text);
            if (text == target) {
                const int w = p.fontMetrics().horizontalAdvance(text);
                p.setPen(QPen(kArrow, 2));
                p.drawLine(50, y + 16, 50 + w, y + 16);
            }
        }
        y += 17;
    }

    drawButton(p, QRect(280, 278, 100, 21), QStringLiteral("还原高级设置(R)"));
    p.setPen(Qt::black);
    p.drawText(QRect(14, 304, 200, 18), Qt::AlignVCenter, QStringLiteral("重置浏览器设置"));
    drawButton(p, QRect(170, 330, 66, 21), QStringLiteral("确定"));
    drawButton(p, QRect(242, 330, 66, 21), QStringLiteral("取消"));
    drawButton(p, QRect(314, 330, 66, 21), QStringLiteral("应用(A)"));
    return pixmap;
}
