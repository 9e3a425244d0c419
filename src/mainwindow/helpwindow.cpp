#include "mainwindow/helpwindow.h"

#include "mainwindow/accessibility.h"
#include "mainwindow/cjkfont.h"
#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowresources.h"
#include "skin/installpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kContents = QStringLiteral("index.html");

// The contents row: each page by its title.
const std::pair<const char *, const char *> kPages[] = {
    {"index.html", "目录"},    {"desk.html", "查询"},         {"batch.html", "批量查询"},
    {"settings.html", "设置"}, {"watch.html", "监视和托盘"},  {"notes.html", "备注和黑名单"},
    {"risk.html", "风险"},     {"status.html", "提示的意思"},
};

} // namespace

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    initMainWindowResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Brelvon 帮助"));
    setWindowIcon(QIcon(QStringLiteral(":/brelvon/brelvon32.png")));
    setFont(cjkFont(13));

    // The contents row: one link per page, each a link of its own for the keyboard and for
    // screen readers (links inside one rich-text label are neither named nor announced).
    installAccessibility();
    auto *contents = new QWidget(this);
    contents->setObjectName(QStringLiteral("HelpContents"));
    contents->setAccessibleName(tr("帮助目录"));
    auto *row = new QHBoxLayout(contents);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    for (const auto &[file, title] : kPages) {
        auto *link = new ClickLabel(contents);
        link->setObjectName(QStringLiteral("HelpLink_") + QLatin1String(file).chopped(5));
        link->setText(QString::fromUtf8(title));
        link->setStyleSheet(QStringLiteral("color: #0000FF; text-decoration: underline;"));
        link->setCursor(Qt::PointingHandCursor);
        link->setFocusPolicy(Qt::TabFocus);
        connect(link, &ClickLabel::clicked, this,
                [this, page = QString::fromLatin1(file)] { showPage(page); });
        row->addWidget(link);
    }
    row->addStretch();

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("HelpBrowser"));
    m_browser->setAccessibleName(tr("帮助内容"));
    m_browser->setSearchPaths({helpFolder()});
    // Links to our own pages stay here; web addresses go to the user's browser.
    m_browser->setOpenExternalLinks(true);
    // The page's title in the window's: the taskbar and a window list say which page is open.
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString page = m_browser->documentTitle();
        setWindowTitle(page.isEmpty() || page == tr("Brelvon 帮助")
                           ? tr("Brelvon 帮助")
                           : tr("%1 - Brelvon 帮助").arg(page));
    });

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(contents);
    layout->addWidget(m_browser, 1);

    // As large as reading needs, never larger than the screen's work area.
    QSize size(720, 640);
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        size = size.boundedTo(area.size() - QSize(40, 60));
        resize(size);
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    } else {
        resize(size);
    }
    showPage(QString());
}

QString HelpWindow::helpFolder()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/help");
    if (QFileInfo(beside + QLatin1Char('/') + kContents).isFile())
        return beside;
    return installedDataDir() + QStringLiteral("/help");
}

void HelpWindow::showPage(const QString &page)
{
    QString name = page.isEmpty() ? kContents : page;
    // Only pages of the folder: a name never climbs out of it.
    if (name.contains(QLatin1String("..")) || name.startsWith(u'/'))
        name = kContents;
    const QUrl url =
        QUrl::fromLocalFile(helpFolder() + QLatin1Char('/') + name.section(u'#', 0, 0));
    QUrl shown(url);
    if (name.contains(u'#'))
        shown.setFragment(name.section(u'#', 1));
    if (!QFileInfo(url.toLocalFile()).isFile()) {
        setWindowTitle(tr("Brelvon 帮助"));
        m_browser->setHtml(
            tr("<p>找不到帮助页面：%1</p><p>帮助文件应在 %2 中。</p>")
                .arg(name.toHtmlEscaped(), QDir::toNativeSeparators(helpFolder()).toHtmlEscaped()));
        return;
    }
    m_browser->setSource(shown);
}
