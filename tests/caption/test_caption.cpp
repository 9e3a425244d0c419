#include "skin/captionlayout.h"
#include "skin/skincaptionbar.h"
#include "skin/skinframe.h"
#include "skin/skinstore.h"
#include "testzip.h"

#include <QBuffer>
#include <QDir>
#include <QLabel>
#include <QMap>
#include <QPainter>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// A test skin: every picture a plain colour of its own, so a pixel tells which picture is where.
// Sizes differ per button so that each term of the position sums shows.
struct Pic
{
    int w, h;
    QRgb colour;
};

const QMap<QString, Pic> &testPictures()
{
    static const QMap<QString, Pic> pictures = {
        {"TOPLEFT", {8, 20, qRgb(200, 0, 0)}},     {"TOPMID", {10, 20, qRgb(0, 0, 200)}},
        {"TOPRIGHT", {6, 20, qRgb(0, 200, 0)}},    {"CLOSE", {11, 12, qRgb(10, 10, 10)}},
        {"CLOSE3", {11, 12, qRgb(20, 20, 20)}},    {"CLOSE2", {11, 12, qRgb(30, 30, 30)}},
        {"MAX", {12, 12, qRgb(40, 40, 40)}},       {"MAX3", {12, 12, qRgb(50, 50, 50)}},
        {"MAX2", {12, 12, qRgb(60, 60, 60)}},      {"RES1", {12, 12, qRgb(70, 70, 70)}},
        {"RES2", {12, 12, qRgb(80, 80, 80)}},      {"RES3", {12, 12, qRgb(90, 90, 90)}},
        {"MIN", {13, 12, qRgb(100, 100, 100)}},    {"MIN3", {13, 12, qRgb(110, 110, 110)}},
        {"MIN2", {13, 12, qRgb(120, 120, 120)}},   {"ONTOP1", {14, 12, qRgb(130, 130, 130)}},
        {"ONTOP3", {14, 12, qRgb(140, 140, 140)}},
    };
    return pictures;
}

QRgb colourOf(const char *key)
{
    return testPictures().value(QLatin1String(key)).colour;
}

const QRgb kTileSeam = qRgb(0, 0, 120); // first column of TOPMID
const QRgb kSurfaceBack = qRgb(1, 2, 3);
const QRgb kSurfaceFore = qRgb(255, 0, 255);
const QRgb kParentBack = qRgb(250, 240, 230);

QByteArray png(const Pic &pic, bool seam)
{
    QImage image(pic.w, pic.h, QImage::Format_RGB32);
    image.fill(pic.colour);
    if (seam) {
        for (int y = 0; y < pic.h; ++y)
            image.setPixel(0, y, kTileSeam);
    }
    return pngBytes(image);
}

// Builds a skin archive as the skin store reads it: skin.ini and one PNG per picture key.
// Keys in omit are left out; numbers overrides the numbers.
void writeSkin(const QString &path, const QStringList &omit = {},
               const QMap<QString, int> &numbers = {}, const QMap<QString, Pic> &sizes = {})
{
    QMap<QString, int> n = {{"XOFFSET", 11},  {"XOFFSET2", 4}, {"YOFFSET", 2},
                            {"FROMRIGHT", 5}, {"FROMTOP", 3},  {"ICONSPACE", 2}};
    for (auto it = numbers.begin(); it != numbers.end(); ++it)
        n[it.key()] = it.value();
    QByteArray ini = "[numbers]\n";
    for (auto it = n.begin(); it != n.end(); ++it) {
        if (!omit.contains(it.key()))
            ini += it.key().toLatin1() + '=' + QByteArray::number(it.value()) + '\n';
    }
    ini += "[colours]\nFORECOLOR=#FF00FF\nBackColor=#010203\nPARENTBACKCOLOR=#FAF0E6\n";

    ZipEntries entries{{QStringLiteral("skin.ini"), ini}};
    const auto &pictures = testPictures();
    for (auto it = pictures.begin(); it != pictures.end(); ++it) {
        if (!omit.contains(it.key()))
            entries.append(
                {it.key() + QStringLiteral(".png"),
                 png(sizes.value(it.key(), it.value()), it.key() == QLatin1String("TOPMID"))});
    }
    QVERIFY(writeZip(path, entries));
}

QRgb pixel(QWidget *w, int x, int y)
{
    return w->grab().toImage().pixel(x, y);
}

// Layout inputs as compact rows: XOFFSET, XOFFSET2, YOFFSET, FROMRIGHT, FROMTOP, ICONSPACE.
CaptionMetrics metrics(const QList<int> &n)
{
    return {qint16(n[0]), qint16(n[1]), qint16(n[2]), qint16(n[3]), qint16(n[4]), qint16(n[5])};
}

const QList<int> kTestNumbers = {11, 4, 2, 5, 3, 2}; // writeSkin's

// The test skin's picture sizes, or with close and maximise missing.
CaptionLayout::Pictures testPictureSizes(bool noCloseOrMax = false, int middleWidth = 10)
{
    CaptionLayout::Pictures p{middleWidth, 6, {11, 12}, {12, 12}, {13, 12}, {14, 12}};
    if (noCloseOrMax)
        p.close = p.maximise = QSize(0, 0);
    return p;
}

} // namespace

class TestCaption : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_skin;
    std::unique_ptr<QWidget> m_host;
    SkinFrame *m_frame = nullptr;
    SkinCaptionBar *m_bar = nullptr;
    const QRect m_start{100, 80, 400, 300};

    // A frameless host with the bar, shown at m_start, wearing skin.
    void makeHost(const QString &skin, int style = 1, bool showOnTop = false,
                  bool controlBox = true)
    {
        m_host = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        m_host->setWindowTitle(QStringLiteral("买家信用查询 Brelvon"));
        QPixmap icon(16, 16);
        icon.fill(Qt::yellow);
        m_host->setWindowIcon(QIcon(icon));
        m_host->setGeometry(m_start);
        m_frame = new SkinFrame(m_host.get());
        m_bar = m_frame->captionBar();
        m_bar->setCaptionStyle(style);
        m_bar->setShowStayOnTopButton(showOnTop);
        m_bar->setControlBox(controlBox);
        m_bar->setSkinFile(skin);
        m_host->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
        QTRY_COMPARE(m_host->geometry(), m_start);
        QTRY_COMPARE(m_bar->width(), 400);
    }

    QPoint band(int x) const { return QPoint(x, m_bar->buttonTop() + 3); }

    // A full click as the platform delivers it.
    void click(QWidget *w, QPoint at)
    {
        QTest::mousePress(w, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    }
    void doubleClick(QWidget *w, QPoint at)
    {
        click(w, at);
        QTest::mousePress(w, Qt::LeftButton, {}, at);
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    }
    // Hover then click a button, at an x inside it.
    void clickButton(int x)
    {
        QTest::mouseMove(m_bar, band(x));
        click(m_bar, band(x));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_skin = m_dir.filePath(QStringLiteral("test.jss"));
        writeSkin(m_skin);
    }

    void init()
    {
        SkinStore::clearCache();
        SkinCaptionBar::setWorkAreaQuery({});
        // Park the pointer off every window so each test's first move is a real move.
        QCursor::setPos(790, 590);
    }

    void cleanup()
    {
        m_host.reset();
        m_bar = nullptr;
        m_frame = nullptr;
        SkinCaptionBar::setWorkAreaQuery({});
    }

    void defaults()
    {
        SkinCaptionBar bar;
        QCOMPARE(bar.property("ControlBox").toBool(), true);
        QCOMPARE(bar.property("Movable").toBool(), true);
        QCOMPARE(bar.property("ONTOP").toBool(), false);
        QCOMPARE(bar.property("Path").toString(), QString());
        QCOMPARE(bar.property("ShowIcon").toBool(), true);
        QCOMPARE(bar.property("SHOWONTOP").toBool(), false);
        QCOMPARE(bar.property("Style").toInt(), 1);
        QCOMPARE(bar.property("Style2").toInt(), 0);
        QCOMPARE(bar.property("BackColor").toUInt(), 0x80000012u);
        QCOMPARE(bar.property("ForeColor").toUInt(), 0x00FFFFFFu);
        QCOMPARE(bar.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(bar.titleLabel()->font().bold());
        QCOMPARE(bar.titleLabel()->font().pointSizeF(), 11.25);
        QVERIFY(bar.titleLabel()->font().families().contains(QStringLiteral("Noto Sans CJK SC")));
        QVERIFY(!bar.REDRAW().isValid());
        bar.setProperty("BackColor", 0x00123456u);
        QCOMPARE(bar.backColor(), 0x00123456u);
        QCOMPARE(bar.titleShadowLabel()->palette().color(QPalette::WindowText),
                 QColor(0x56, 0x34, 0x12));
    }

    // Places on bars of the test skin's pictures (and variants), the numbers held to the bar as
    // the bar holds them (x ones within its width, y ones within its height). A bar narrower than
    // its buttons pushes them past its left edge and stops the title at its right edge.
    void layoutPlaces_data()
    {
        QTest::addColumn<QSize>("bar");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<bool>("noCloseOrMax");
        QTest::addColumn<int>("middleWidth");
        QTest::addColumn<QList<int>>("buttons"); // left edges: close, minimise, maximise, on-top
        QTest::addColumn<int>("top");
        QTest::addColumn<QPoint>("title");
        QTest::addColumn<QPoint>("icon");
        QTest::addColumn<QPoint>("rightEnd");
        QTest::addColumn<int>("tiles");
        QTest::addColumn<int>("lastTile"); // -1: none
        QTest::newRow("test skin")
            << QSize(400, 20) << kTestNumbers << false << 10 << QList<int>{384, 355, 370, 339} << 3
            << QPoint(28, 2) << QPoint(4, 4) << QPoint(394, 0) << 40 << 390;
        QTest::newRow("flush right, partial last tile, icon held in a low bar")
            << QSize(405, 3) << QList<int>{0, 0, 2, 0, 0, 0} << false << 10
            << QList<int>{394, 369, 382, 355} << 0 << QPoint(17, 2) << QPoint(0, 3)
            << QPoint(399, 0) << 41 << 400;
        QTest::newRow("no close or maximise picture, no tile")
            << QSize(400, 20) << kTestNumbers << true << 0 << QList<int>{395, 378, 393, 362} << 3
            << QPoint(28, 2) << QPoint(4, 4) << QPoint(394, 0) << 0 << -1;
        QTest::newRow("narrower than its buttons")
            << QSize(20, 20) << kTestNumbers << false << 10 << QList<int>{4, -25, -10, -41} << 3
            << QPoint(20, 2) << QPoint(4, 4) << QPoint(14, 0) << 2 << 10;
        QTest::newRow("far-out numbers")
            << QSize(400, 20) << QList<int>{30000, -30000, -30000, -30000, 30000, 30000} << false
            << 10 << QList<int>{389, -436, -23, -850} << 20 << QPoint(400, 0) << QPoint(0, 2)
            << QPoint(394, 0) << 40 << 390;
        QTest::newRow("numbers beyond the height only")
            << QSize(400, 20) << QList<int>{100, 100, 100, 100, 100, 100} << false << 10
            << QList<int>{289, 64, 177, -50} << 20 << QPoint(117, 20) << QPoint(100, 20)
            << QPoint(394, 0) << 40 << 390;
    }
    void layoutPlaces()
    {
        QFETCH(QSize, bar);
        QFETCH(QList<int>, numbers);
        QFETCH(bool, noCloseOrMax);
        QFETCH(int, middleWidth);
        QFETCH(QList<int>, buttons);
        QFETCH(int, top);
        QFETCH(int, tiles);
        QFETCH(int, lastTile);
        const CaptionLayout::Pictures pictures = testPictureSizes(noCloseOrMax, middleWidth);
        const CaptionLayout layout(bar, metrics(numbers).boundedTo(bar.width(), bar.height()),
                                   pictures);
        const QSize sizes[] = {pictures.close, pictures.minimise, pictures.maximise,
                               pictures.stayOnTop};
        for (int b = 0; b < 4; ++b)
            QCOMPARE(layout.button(CaptionLayout::Button(b)),
                     QRect(QPoint(buttons[b], top), sizes[b]));
        QTEST(layout.title(), "title");
        QTEST(layout.icon(), "icon");
        QTEST(layout.rightEnd(), "rightEnd");
        const std::vector<int> xs = layout.middleTiles();
        QCOMPARE(int(xs.size()), tiles);
        QCOMPARE(xs.empty() ? -1 : xs.back(), lastTile);
    }

    // The buttons' zones and the band are open intervals; the band is the close button's.
    void layoutHits_data()
    {
        QTest::addColumn<QPointF>("at");
        QTest::addColumn<bool>("inBand");
        QTest::addColumn<int>("button"); // -1: none
        // Close 11 x 12 at (384, 3), maximise 12 wide at 370, minimise 13 at 355, stay-on-top
        // 14 at 339.
        QTest::newRow("band top edge") << QPointF(388, 3) << false << -1;
        QTest::newRow("band top inside") << QPointF(388, 3.5) << true << 0;
        QTest::newRow("band bottom edge") << QPointF(388, 15) << false << -1;
        QTest::newRow("close left edge") << QPointF(384, 8) << true << -1;
        QTest::newRow("close left inside") << QPointF(384.5, 8) << true << 0;
        QTest::newRow("close right edge") << QPointF(395, 8) << true << -1;
        QTest::newRow("gap") << QPointF(383, 8) << true << -1;
        QTest::newRow("maximise") << QPointF(381, 8) << true << 2;
        QTest::newRow("minimise") << QPointF(356, 8) << true << 1;
        QTest::newRow("stay-on-top") << QPointF(352, 8) << true << 3;
        QTest::newRow("stay-on-top right edge") << QPointF(353, 8) << true << -1;
    }
    void layoutHits()
    {
        QFETCH(QPointF, at);
        QFETCH(int, button);
        const CaptionLayout layout(QSize(400, 20), metrics(kTestNumbers), testPictureSizes());
        QTEST(layout.inButtonBand(at), "inBand");
        const auto hit = layout.buttonAt(at);
        QCOMPARE(hit ? int(*hit) : -1, button);
    }

    // What the bar draws, against pictures of it in tests/caption/golden: the properties set on
    // the shown bar (they need no resize to show), no title (text depends on the installed fonts).
    // After a deliberate change to the drawing, rewrite them with BRELVON_UPDATE_GOLDEN=1
    // build/bin/test_caption, and look at them before committing them.
    void golden_data()
    {
        QTest::addColumn<QString>("skin"); // empty: the test skin
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("showOnTop");
        QTest::addColumn<bool>("controlBox");
        QTest::addColumn<QString>("golden");
        const QString test;
        QTest::newRow("all buttons") << test << 1 << false << true << "all-buttons";
        QTest::newRow("style 4 draws all") << test << 4 << false << true << "all-buttons";
        QTest::newRow("close only, stay-on-top") << test << 0 << true << true << "close-ontop";
        QTest::newRow("no control box, stay-on-top") << test << 1 << true << false << "ontop-only";
        QTest::newRow("default skin")
            << QStringLiteral(BRELVON_DEFAULT_SKIN) << 1 << false << true << "default-skin";
    }
    void golden()
    {
        QFETCH(QString, skin);
        QFETCH(int, style);
        QFETCH(bool, showOnTop);
        QFETCH(bool, controlBox);
        QFETCH(QString, golden);
        makeHost(skin.isEmpty() ? m_skin : skin);
        m_bar->setCaptionStyle(style);
        m_bar->setShowStayOnTopButton(showOnTop);
        m_bar->setControlBox(controlBox);
        m_host->setWindowTitle(QString());
        const QImage drawn = m_bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString path = QStringLiteral(BRELVON_CAPTION_GOLDEN "/%1.png").arg(golden);
        if (qEnvironmentVariableIntValue("BRELVON_UPDATE_GOLDEN") == 1)
            QVERIFY(drawn.save(path));
        const QString kept = QDir::temp().filePath(QFileInfo(path).fileName());
        if (drawn != QImage(path).convertToFormat(QImage::Format_RGB32) && drawn.save(kept))
            QFAIL(qPrintable(QStringLiteral("not as %1; drawn: %2").arg(path, kept)));
    }

    // The host's background, the title and icon.
    void surface()
    {
        makeHost(m_skin);
        QCOMPARE(m_host->palette().color(QPalette::Window), QColor(kParentBack));
        QCOMPARE(m_bar->windowModeValue(), 2);
        QCOMPARE(m_frame->resizeAllowed(), true);

        QCOMPARE(m_bar->titleLabel()->text(), QStringLiteral("买家信用查询 Brelvon"));
        QCOMPARE(m_bar->titleShadowLabel()->text(), m_bar->titleLabel()->text());
        QCOMPARE(m_bar->titleLabel()->pos(), QPoint(28, 2));
        QCOMPARE(m_bar->titleShadowLabel()->pos(), QPoint(27, 1));
        QCOMPARE(m_bar->titleLabel()->palette().color(QPalette::WindowText), QColor(kSurfaceFore));
        QCOMPARE(m_bar->titleShadowLabel()->palette().color(QPalette::WindowText),
                 QColor(kSurfaceBack));
        QVERIFY(m_bar->iconLabel()->isVisible());
        m_bar->setShowIcon(false);
        QVERIFY(!m_bar->iconLabel()->isVisible());
        // The title in front of its shadow, the shadow in front of the icon.
        const QObjectList kids = m_bar->children();
        QVERIFY(kids.indexOf(m_bar->titleLabel()) > kids.indexOf(m_bar->titleShadowLabel()));
        QVERIFY(kids.indexOf(m_bar->titleShadowLabel()) > kids.indexOf(m_bar->iconLabel()));
        QVERIFY(m_bar->titleLabel()->width() > 50);

        // The bar follows its host's width.
        m_host->resize(500, 300);
        QTRY_COMPARE(m_bar->geometry(), QRect(0, 0, 500, 20));
        m_host->setWindowTitle(QStringLiteral("新标题"));
        QCOMPARE(m_bar->titleLabel()->text(), QStringLiteral("新标题"));
    }

    // Hover, press and release pictures; the release redraws "MAX" even over a restore button.
    void states_data()
    {
        QTest::addColumn<bool>("maximised");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("hit");
        QTest::addColumn<QStringList>("pictures"); // hovered, pressed, released
        QTest::newRow("close") << false << 384 << 0 << QStringList{"CLOSE3", "CLOSE2", "CLOSE"};
        QTest::newRow("max") << false << 370 << 2 << QStringList{"MAX3", "MAX2", "MAX"};
        QTest::newRow("min") << false << 355 << 1 << QStringList{"MIN3", "MIN2", "MIN"};
        QTest::newRow("restore") << true << 370 << 2 << QStringList{"RES2", "RES3", "MAX"};
    }
    void states()
    {
        QFETCH(bool, maximised);
        QFETCH(int, x);
        QFETCH(int, hit);
        QFETCH(QStringList, pictures);
        makeHost(m_skin);
        if (maximised) {
            SkinCaptionBar::setWorkAreaQuery([](const QWidget *) { return QRect(0, 0, 400, 300); });
            doubleClick(m_bar, band(100));
            QVERIFY(m_bar->isMaximised());
            QTRY_COMPARE(m_bar->windowModeValue(), 1);
            QCOMPARE(pixel(m_bar, x + 1, 4), colourOf("RES1"));
        }
        const int y = m_bar->buttonTop() + 4;
        QTest::mouseMove(m_bar, QPoint(x + 2, y));
        QCOMPARE(int(m_bar->hitButton()), hit);
        QVERIFY(m_bar->isOverButton());
        QCOMPARE(pixel(m_bar, x + 1, 4), colourOf(qPrintable(pictures[0])));
        // A right press and release: pictures change, no command runs.
        QTest::mousePress(m_bar, Qt::RightButton, {}, QPoint(x + 2, y));
        QCOMPARE(pixel(m_bar, x + 1, 4), colourOf(qPrintable(pictures[1])));
        QTest::mouseRelease(m_bar, Qt::RightButton, {}, QPoint(x + 2, y));
        QCOMPARE(pixel(m_bar, x + 1, 4), colourOf(qPrintable(pictures[2])));
        QVERIFY(m_host->isVisible());
        QCOMPARE(m_bar->isMaximised(), maximised);
        // Into the band outside the buttons: normal pictures, not over a button any more.
        QTest::mouseMove(m_bar, band(200));
        QVERIFY(!m_bar->isOverButton());
        QCOMPARE(int(m_bar->hitButton()), hit);
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE"));
        QCOMPARE(pixel(m_bar, 371, 4), colourOf(maximised ? "RES1" : "MAX"));
        QCOMPARE(pixel(m_bar, 356, 4), colourOf("MIN"));
    }

    void disabledButtons_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("controlBox");
        QTest::addColumn<int>("x");
        QTest::newRow("style 4 close") << 4 << true << 384;
        QTest::newRow("style 3 max") << 3 << true << 370;
        QTest::newRow("style 0 max zone") << 0 << true << 370;
        QTest::newRow("style 0 min zone") << 0 << true << 355;
        QTest::newRow("no box close") << 1 << false << 384;
        QTest::newRow("no box ontop") << 1 << false << 345;
    }
    void disabledButtons()
    {
        QFETCH(int, style);
        QFETCH(bool, controlBox);
        QFETCH(int, x);
        makeHost(m_skin, style, true, controlBox);
        const QImage before = m_bar->grab().toImage();
        clickButton(x + 2);
        QVERIFY(!m_bar->isOverButton());
        QCOMPARE(m_bar->grab().toImage(), before);
        QVERIFY(m_host->isVisible());
        QVERIFY(!m_bar->isMaximised());
        QVERIFY(!m_bar->isOnTop());
    }

    // A skin of giant pictures and far-out numbers keeps its bar on the top of the window: the
    // rest of the window stays the window's, and what the bar draws stays in the bar.
    void hostileSkinStaysInTheBar()
    {
        const QString path = m_dir.filePath(QStringLiteral("giant.jss"));
        writeSkin(
            path, {},
            {{"FROMTOP", 30000},
             {"YOFFSET", -30000},
             {"XOFFSET", 30000},
             {"XOFFSET2", -30000},
             {"FROMRIGHT", -30000},
             {"ICONSPACE", 30000}},
            {{"TOPLEFT", {8, 2000, qRgb(200, 0, 0)}}, {"CLOSE", {2000, 2000, qRgb(1, 1, 1)}}});
        makeHost(path);
        QVERIFY2(m_bar->height() <= SkinCaptionBar::kMaxBarHeight,
                 qPrintable(QString::number(m_bar->height())));
        // (The title's shadow copy sits one pixel up and left of the title.)
        const QRect reach(-1, -1, m_bar->width() + 2, m_bar->height() + 2);
        for (QWidget *child : m_bar->findChildren<QWidget *>())
            QVERIFY2(reach.contains(child->pos()), qPrintable(child->objectName()));
        const QPoint below(200, m_host->height() - 20);
        QWidget *hit = m_host->childAt(below);
        QVERIFY(hit != m_bar && !(hit && m_bar->isAncestorOf(hit)));
    }

    void closeButton()
    {
        makeHost(m_skin);
        clickButton(388);
        QVERIFY(!m_host->isVisible());
    }

    void maximiseAndRestore_data()
    {
        QTest::addColumn<bool>("byDoubleClick");
        QTest::newRow("button") << false;
        QTest::newRow("double-click") << true;
    }
    void maximiseAndRestore()
    {
        QFETCH(bool, byDoubleClick);
        makeHost(m_skin);
        const QRect area = m_host->screen()->availableGeometry();
        byDoubleClick ? doubleClick(m_bar, band(100)) : clickButton(375);
        QVERIFY(m_bar->isMaximised());
        QTRY_COMPARE(m_host->frameGeometry(), area);
        QCOMPARE(m_host->windowState() & Qt::WindowMaximized, Qt::WindowStates());
        QTRY_COMPARE(m_bar->width(), area.width());
        QCOMPARE(m_bar->windowModeValue(), 1);
        QCOMPARE(m_frame->resizeAllowed(), false);
        QCOMPARE(m_bar->savedBounds().width(), 400 * 15);
        QCOMPARE(m_bar->savedBounds().height(), 300 * 15);
        QCOMPARE(m_bar->savedBounds().x(), 100 * 15);
        QCOMPARE(m_bar->savedBounds().y(), 80 * 15);
        QCOMPARE(pixel(m_bar, m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 1, 4),
                 colourOf("RES1"));

        // Never dragged while maximised.
        QTest::mousePress(m_bar, Qt::LeftButton, {}, band(100));
        QTest::mouseMove(m_bar, band(150));
        QTest::mouseRelease(m_bar, Qt::LeftButton, {}, band(150));
        QCOMPARE(m_host->frameGeometry(), area);

        byDoubleClick ? doubleClick(m_bar, band(120))
                      : clickButton(m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 5);
        QVERIFY(!m_bar->isMaximised());
        QTRY_COMPARE(m_host->frameGeometry(), m_start);
        QTRY_COMPARE(m_bar->windowModeValue(), 2);
        QCOMPARE(m_frame->resizeAllowed(), true);
        QCOMPARE(pixel(m_bar, m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 1, 4),
                 colourOf("MAX"));
    }

    // Every maximise and restore updates the mode, the borders, resizing, the shape and the
    // button's picture, also when the host keeps its width or all of its bounds.
    void maximiseKeepingSize_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<bool>("byDoubleClick");
        for (bool byDoubleClick : {false, true}) {
            const char *how = byDoubleClick ? "double-click" : "button";
            QTest::addRow("only the height changes, %s", how)
                << QRect(100, 0, 400, 500) << byDoubleClick;
            QTest::addRow("nothing changes, %s", how) << QRect(100, 80, 400, 300) << byDoubleClick;
        }
    }
    void maximiseKeepingSize()
    {
        QFETCH(QRect, area);
        QFETCH(bool, byDoubleClick);
        makeHost(m_skin);
        SkinCaptionBar::setWorkAreaQuery([area](const QWidget *) { return area; });
        const int xMax = m_bar->buttonX(SkinCaptionBar::MaximiseButton);
        QSignalSpy modes(m_frame, &SkinFrame::windowModeChanged);
        const auto toggle = [&] {
            if (byDoubleClick) {
                QTest::mouseMove(m_bar, band(100));
                doubleClick(m_bar, band(100));
            } else {
                clickButton(xMax + 5);
            }
        };
        toggle();
        QTRY_COMPARE(m_host->frameGeometry(), area);
        QCOMPARE(m_bar->windowModeValue(), 1);
        QVERIFY(!m_frame->resizeAllowed());
        QVERIFY(!m_frame->border(SkinBorder::Bottom)->isVisible());
        QVERIFY(m_host->mask().isEmpty());
        QCOMPARE(pixel(m_bar, xMax + 1, 4), colourOf("RES1"));

        toggle();
        QTRY_COMPARE(m_host->frameGeometry(), m_start);
        QCOMPARE(m_bar->windowModeValue(), 2);
        QVERIFY(m_frame->resizeAllowed());
        QVERIFY(m_frame->border(SkinBorder::Bottom)->isVisible());
        QVERIFY(!m_host->mask().isEmpty());
        QCOMPARE(pixel(m_bar, xMax + 1, 4), colourOf("MAX"));
        QCOMPARE(modes.size(), 2);
    }

    // The host lands by the first matching row of the placement table.
    void placement_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("origin") << QRect(0, 0, 640, 480) << QRect(0, 0, 640, 480);
        QTest::newRow("left > 0") << QRect(60, 0, 600, 480) << QRect(60, 0, 600, 480);
        QTest::newRow("top > 0") << QRect(0, 40, 640, 440) << QRect(0, 40, 640, 440);
        QTest::newRow("left < 0") << QRect(-200, 0, 600, 480) << QRect(0, 0, 600, 480);
        QTest::newRow("left and top > 0") << QRect(60, 40, 600, 440) << QRect(100, 80, 600, 440);
        QTest::newRow("top < 0") << QRect(0, -30, 640, 480) << QRect(100, 80, 640, 480);
    }
    void placement()
    {
        QFETCH(QRect, area);
        QFETCH(QRect, expected);
        makeHost(m_skin);
        SkinCaptionBar::setWorkAreaQuery([area](const QWidget *) { return area; });
        clickButton(375);
        QTRY_COMPARE(m_host->frameGeometry(), expected);
        clickButton(m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 5);
        QTRY_COMPARE(m_host->frameGeometry(), m_start);
        doubleClick(m_bar, band(100));
        QTRY_COMPARE(m_host->frameGeometry(), expected);
    }

    // Without a work area the command prints its failure and changes nothing but the state.
    void workAreaFails()
    {
        makeHost(m_skin);
        m_host->setWindowTitle(QString()); // the title is drawn in the same colour
        SkinCaptionBar::setWorkAreaQuery([](const QWidget *) { return std::nullopt; });
        auto printed = [&] {
            const QImage img = m_bar->grab().toImage().copy(0, 0, 200, 20);
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (img.pixel(x, y) == kSurfaceFore)
                        return true;
            return false;
        };
        QVERIFY(!printed());
        clickButton(375);
        QVERIFY(m_bar->isMaximised());
        QCOMPARE(m_host->frameGeometry(), m_start);
        QVERIFY(printed());
        m_bar->REDRAW();
        QVERIFY(!printed());
        // The restore clears the state before it fails.
        clickButton(375);
        QVERIFY(!m_bar->isMaximised());
        QVERIFY(printed());
    }

    void doubleClickStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("controlBox");
        QTest::addColumn<bool>("toggles");
        QTest::newRow("0") << 0 << true << false;
        QTest::newRow("1") << 1 << true << true;
        QTest::newRow("2") << 2 << true << true;
        QTest::newRow("3") << 3 << true << false;
        QTest::newRow("4") << 4 << true << true;
        QTest::newRow("7") << 7 << true << true;
        QTest::newRow("1 no box") << 1 << false << true;
        QTest::newRow("3 no box") << 3 << false << false;
    }
    void doubleClickStyles()
    {
        QFETCH(int, style);
        QFETCH(bool, controlBox);
        QFETCH(bool, toggles);
        makeHost(m_skin, style, false, controlBox);
        const QRect area = m_host->screen()->availableGeometry();
        doubleClick(m_bar, band(100));
        QCOMPARE(m_bar->isMaximised(), toggles);
        QTRY_COMPARE(m_host->frameGeometry(), toggles ? area : m_start);
        if (toggles)
            QTRY_COMPARE(m_bar->windowModeValue(), 1);
        doubleClick(m_bar, band(120));
        QVERIFY(!m_bar->isMaximised());
        QTRY_COMPARE(m_host->frameGeometry(), m_start);
        QTRY_COMPARE(m_bar->windowModeValue(), 2);
        QCOMPARE(m_frame->resizeAllowed(), style == 1);
    }

    // A double-click on a button: its first click runs the command, the double-click nothing.
    void doubleClickOnButton()
    {
        makeHost(m_skin, 1, true);
        QTest::mouseMove(m_bar, band(345));
        doubleClick(m_bar, band(345));
        QVERIFY(m_bar->isOnTop());
        QVERIFY(!m_bar->isMaximised());
        QCOMPARE(m_host->frameGeometry(), m_start);
    }

    void minimise()
    {
        makeHost(m_skin);
        clickButton(360);
        QCOMPARE(m_bar->windowModeValue(), 0);
        QTRY_VERIFY(m_host->isMinimized());
        QCOMPARE(m_bar->windowModeValue(), 0);
        // Back from the task bar: the next redraw finds the host normal.
        m_host->setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(m_bar->windowModeValue(), 2);
    }

    void stayOnTop()
    {
        makeHost(m_skin, 1, true);
        QCOMPARE(pixel(m_bar, 340, 4), colourOf("ONTOP1"));
        clickButton(345);
        QVERIFY(m_bar->isOnTop());
        QCOMPARE(int(m_bar->hitButton()), 3);
        QVERIFY(m_host->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(m_host->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(m_host->isVisible());
        QCOMPARE(pixel(m_bar, 340, 4), colourOf("ONTOP3"));
        click(m_bar, band(346));
        QVERIFY(!m_bar->isOnTop());
        QVERIFY(!m_host->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(pixel(m_bar, 340, 4), colourOf("ONTOP1"));
        m_bar->setOnTop(true);
        QVERIFY(m_host->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    // Leaving a pressed button through the gap cancels it; leaving it below the band does not.
    void pressAndLeave_data()
    {
        QTest::addColumn<QPoint>("releaseAt");
        QTest::addColumn<bool>("runs");
        QTest::newRow("gap") << QPoint(369, 8) << false;
        QTest::newRow("below the band") << QPoint(360, 17) << true;
        QTest::newRow("outside the bar") << QPoint(360, 40) << false;
    }
    void pressAndLeave()
    {
        QFETCH(QPoint, releaseAt);
        QFETCH(bool, runs);
        makeHost(m_skin);
        QTest::mouseMove(m_bar, band(360));
        QTest::mousePress(m_bar, Qt::LeftButton, {}, band(360));
        QCOMPARE(pixel(m_bar, 356, 4), colourOf("MIN2"));
        QTest::mouseMove(m_bar, releaseAt);
        // In the gap the normal pictures come back at once; elsewhere the pressed one stays.
        QCOMPARE(pixel(m_bar, 356, 4), colourOf(releaseAt.y() == 8 ? "MIN" : "MIN2"));
        QTest::mouseRelease(m_bar, Qt::LeftButton, {}, releaseAt);
        QCOMPARE(m_bar->windowModeValue(), runs ? 0 : 2);
        QTRY_COMPARE(m_host->isMinimized(), runs);
        if (!runs)
            QCOMPARE(pixel(m_bar, 356, 4), colourOf("MIN"));
    }

    // Where nothing reacts the pointer state stays: below the band, over a hidden button. A
    // redraw, and the pointer leaving the bar, show the normal pictures and keep it too.
    void pointerStateStays()
    {
        makeHost(m_skin);
        QTest::mouseMove(m_bar, band(388));
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE3"));
        for (QPoint at : {QPoint(388, 15), band(345)}) {
            QTest::mouseMove(m_bar, at);
            QVERIFY(m_bar->isOverButton());
            QCOMPARE(int(m_bar->hitButton()), 0);
        }
        m_bar->REDRAW();
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE"));
        QVERIFY(m_bar->isOverButton());
        QTest::mouseMove(m_bar, band(389));
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE3"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m_bar, &leave);
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE"));
        QCOMPARE(int(m_bar->hitButton()), 0);
        QVERIFY(m_bar->isOverButton());
    }

    // The title passes the pointer on at (1, 1).
    void titleForwards()
    {
        makeHost(m_skin);
        QLabel *title = m_bar->titleLabel();
        QTest::mouseMove(m_bar, band(388));
        QVERIFY(m_bar->isOverButton());
        // (1, 1) is above the band when FROMTOP is 3: nothing changes, and a press on the title
        // presses the hovered button instead of dragging.
        QTest::mouseMove(title, QPoint(5, 5));
        QVERIFY(m_bar->isOverButton());
        QTest::mousePress(title, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(pixel(m_bar, 385, 4), colourOf("CLOSE2"));
        QTest::mouseMove(title, QPoint(40, 9));
        QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(40, 9));
        QCOMPARE(m_host->frameGeometry(), m_start);
        QVERIFY(m_host->isVisible()); // a click on the title is no click

        // With FROMTOP 0, (1, 1) is in the band, outside every button.
        const QString flat = m_dir.filePath(QStringLiteral("flat.jss"));
        writeSkin(flat, {}, {{"FROMTOP", 0}});
        m_bar->setSkinFile(flat);
        QTest::mouseMove(title, QPoint(6, 6));
        QVERIFY(!m_bar->isOverButton());
        QTest::mousePress(title, Qt::LeftButton, {}, QPoint(6, 6));
        QTest::mouseMove(title, QPoint(26, 16));
        QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(26, 16));
        QTRY_COMPARE(m_host->frameGeometry(), m_start.translated(20, 10));
        // A double-click on the title maximises.
        doubleClick(title, QPoint(8, 8));
        QVERIFY(m_bar->isMaximised());
    }

    // Where the platform has no move loop the bar follows the pointer itself.
    void drag()
    {
        makeHost(m_skin);
        QTest::mousePress(m_bar, Qt::LeftButton, {}, band(100));
        QTest::mouseMove(m_bar, band(130) + QPoint(0, 5));
        QTRY_COMPARE(m_host->pos(), m_start.topLeft() + QPoint(30, 5));
        QTest::mouseRelease(m_bar, Qt::LeftButton, {}, band(130) + QPoint(0, 5));
        QTest::mouseMove(m_bar, band(150));
        QCOMPARE(m_host->pos(), m_start.topLeft() + QPoint(30, 5));

        // Not movable: no drag.
        m_bar->setMovable(false);
        QTest::mousePress(m_bar, Qt::LeftButton, {}, band(100));
        QTest::mouseMove(m_bar, band(160));
        QTest::mouseRelease(m_bar, Qt::LeftButton, {}, band(160));
        QCOMPARE(m_host->pos(), m_start.topLeft() + QPoint(30, 5));
    }

    // A host shown maximised is taken over: a normal window covering the work area.
    void takeOver()
    {
        m_host = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        m_host->setGeometry(m_start);
        m_frame = new SkinFrame(m_host.get());
        m_bar = m_frame->captionBar();
        m_bar->setSkinFile(m_skin);
        m_host->showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
        const QRect area = m_host->screen()->availableGeometry();
        QVERIFY(m_bar->isMaximised());
        QCOMPARE(m_bar->windowModeValue(), 1);
        QCOMPARE(m_frame->resizeAllowed(), false);
        QCOMPARE(m_bar->savedBounds().width(), 400 * 15);
        QCOMPARE(m_bar->savedBounds().x(), 100 * 15);
        QTRY_COMPARE(m_host->frameGeometry(), area);
        QVERIFY(!m_host->isMaximized());
        QTRY_COMPARE(m_bar->width(), area.width());
        QCOMPARE(pixel(m_bar, m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 1, 4),
                 colourOf("RES1"));
        clickButton(m_bar->buttonX(SkinCaptionBar::MaximiseButton) + 5);
        QTRY_COMPARE(m_host->frameGeometry(), m_start);
    }

    // Missing keys: the target keeps what it had; no picture draws nothing; nothing fails.
    void missingKeys()
    {
        makeHost(m_skin);
        QCOMPARE(m_bar->rightGap(), 5);
        const QString noRight = m_dir.filePath(QStringLiteral("noright.jss"));
        writeSkin(noRight, {"FROMRIGHT", "CLOSE3", "MAX"}, {{"FROMTOP", 4}});
        m_bar->setSkinFile(noRight);
        QCOMPARE(m_bar->rightGap(), 5);
        QCOMPARE(m_bar->buttonTop(), 4);
        // No "MAX": no picture, no room.
        QCOMPARE(m_bar->layout().button(CaptionLayout::Maximise).size(), QSize(0, 0));
        // No "CLOSE3": hovering close draws nothing but still marks the button.
        QTest::mouseMove(m_bar, QPoint(388, 9));
        QCOMPARE(int(m_bar->hitButton()), 0);
        QVERIFY(m_bar->isOverButton());
        QCOMPARE(pixel(m_bar, 385, 5), colourOf("CLOSE"));
    }

    void emptyPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString();
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("none.jss"));
    }
    void emptyPath()
    {
        QFETCH(QString, path);
        makeHost(m_skin);
        QCOMPARE(m_bar->height(), 20);
        m_bar->setSkinFile(path);
        QCOMPARE(m_bar->height(), 0);
        QCOMPARE(m_bar->buttonX(SkinCaptionBar::CloseButton), 400 - 5);
        QTest::mouseMove(m_host.get(), QPoint(200, 1));
        QTest::mousePress(m_host.get(), Qt::LeftButton, {}, QPoint(200, 1));
        QTest::mouseRelease(m_host.get(), Qt::LeftButton, {}, QPoint(200, 1));
        m_bar->REDRAW();
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("none.jss"))));
    }

    // A skin replaced on disk shows at the next paint.
    void skinChangesOnDisk()
    {
        const QString path = m_dir.filePath(QStringLiteral("changing.jss"));
        writeSkin(path);
        makeHost(path);
        QCOMPARE(pixel(m_bar, 384, 4), colourOf("CLOSE"));
        writeSkin(path, {"CLOSE"});
        // No close picture now: the maximise button takes its place.
        QTRY_COMPARE(pixel(m_bar, 384, 4), colourOf("MAX"));
    }
};

QTEST_MAIN(TestCaption)
#include "test_caption.moc"
