#include "mainwindow/helpwindow.h"

#include "mainwindow/cjkfont.h"
#include "mainwindow/helppictures.h"
#include "mainwindow/mainwindowresources.h"

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>

namespace {

constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

// A red instruction line. The text keeps its place and width; where the installed CJK font sets
// lines taller than the Song face the layout was made for, the label grows down into the free
// space above the next control (at most to nextTop) instead of cutting the text off.
QLabel *instruction(QWidget *parent, const char *name, const QString &text, int left, int top,
                    int width, int height, int nextTop)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setText(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(cjkFont(16));
    label->setStyleSheet(QStringLiteral("color: #FF0000;"));
    const int w = px(width);
    const int needed = label->heightForWidth(w);
    const int h = qMax(px(height), qMin(needed, px(nextTop) - px(top)));
    label->setGeometry(px(left), px(top), w, h);
    return label;
}

// A picture box: the picture at its own size from the top-left corner, cut off by the box.
QLabel *picture(QWidget *parent, const char *name, const QPixmap &pixmap, int left, int top,
                int width, int height)
{
    auto *box = new QLabel(parent);
    box->setObjectName(QLatin1String(name));
    box->setFrameShape(QFrame::Panel);
    box->setFrameShadow(QFrame::Sunken);
    box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->setPixmap(pixmap);
    box->setGeometry(px(left), px(top), px(width), px(height));
    return box;
}

} // namespace

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    initMainWindowResources();
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("软件启动设置"));
    setWindowIcon(QIcon(QStringLiteral(":/brelvon/brelvon32.png")));
    resize(kClientWidth, kClientHeight);

    instruction(this, "Label1", QStringLiteral("打开IE,在IE菜单上点\"工具\",如下图"), 240, 360,
                5655, 255, 720);
    picture(this, "Picture1", drawMenuBarPicture(), 240, 720, 5055, 1935);
    instruction(
        this, "Label2",
        QStringLiteral("点\"工具\"后,再点\"Internet 选项\",然后将出现下图界面,再点\"高级\""), 240,
        2880, 7455, 255, 3360);
    picture(this, "Picture2", drawOptionsDialogPicture(), 240, 3360, 6135, 1815);
    instruction(
        this, "Label3",
        QStringLiteral("点\"高级\"后,将出现下图界面,移动滚动条,找到\"在安全和非安全模式之间"
                       "转换时发出警告\",去掉那前面的勾,然后点\"确定\".退出软件,再重新启动"),
        120, 5400, 7815, 495, 6120);
    picture(this, "Picture3", drawAdvancedSettingsPicture(), 240, 6120, 6135, 3855);
}
