#include "skin/skinborder.h"
#include "skin/skinframe.h"
#include "skin/skinstore.h"
#include "testzip.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <map>

namespace {

using Pictures = std::map<QString, QImage>;

const QColor kBack(90, 126, 220); // the border's own background, 0x00DC7E5A
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 160, 0);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);

QImage solid(int w, int h, const QColor &colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A tile whose first row (or column) is red and the rest green, so each copy's start shows.
QImage marked(int w, int h, bool markRow)
{
    QImage image = solid(w, h, kGreen);
    if (markRow) {
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, 0, kRed);
    } else {
        for (int y = 0; y < h; ++y)
            image.setPixelColor(0, y, kRed);
    }
    return image;
}

// Writes a skin file: a zip holding skin.ini and one PNG per picture key.
void writeSkin(const QString &path, const Pictures &pictures)
{
    ZipEntries entries{{QStringLiteral("skin.ini"), "[numbers]\nXOFFSET=11\n"}};
    for (const auto &[key, image] : pictures)
        entries.append({key + QStringLiteral(".png"), pngBytes(image)});
    QVERIFY(writeZip(path, entries));
}

QColor pixel(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y);
}

void send(QWidget *w, QEvent::Type type, QPointF local, Qt::MouseButton button,
          Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, w->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void moveOver(QWidget *w, QPointF local)
{
    send(w, QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton);
}

// Press at local, move the pointer by steps (global deltas from the press), release at the last.
void drag(SkinBorder *b, QPointF local, Qt::MouseButton button, const QList<QPoint> &steps)
{
    const QPointF global = b->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
    QApplication::sendEvent(b, &press);
    QPoint last;
    for (const QPoint &step : steps) {
        last = step;
        // The border may have moved with its host: positions are taken from the global ones.
        const QPointF g = global + step;
        QMouseEvent move(QEvent::MouseMove, b->mapFromGlobal(g), g, Qt::NoButton, button,
                         Qt::NoModifier);
        QApplication::sendEvent(b, &move);
    }
    const QPointF g = global + last;
    QMouseEvent release(QEvent::MouseButtonRelease, b->mapFromGlobal(g), g, button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(b, &release);
}

} // namespace

class TestBorder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }

    // A top-level host wearing a frame whose border of the given type alone has a skin.
    struct Frame
    {
        std::unique_ptr<QWidget> host;
        SkinFrame *frame = nullptr;
        SkinBorder *border = nullptr;
    };
    Frame frame(int type, const QString &path, QSize size, bool show = false,
                QSize minimum = QSize(0, 0))
    {
        Frame f;
        f.host = std::make_unique<QWidget>();
        f.host->setMinimumSize(minimum);
        f.host->setGeometry(QRect(QPoint(100, 80), size));
        f.frame = new SkinFrame(f.host.get());
        f.border = f.frame->border(SkinBorder::BorderType(type));
        f.border->setSkinFile(path);
        if (show) {
            f.host->show();
            if (!QTest::qWaitForWindowExposed(f.host.get()))
                qWarning("host window not exposed");
        }
        return f;
    }

    QString testSkin()
    {
        const QString path = file(QStringLiteral("test.jss"));
        writeSkin(path, {{QStringLiteral("LEFTTOP"), solid(5, 30, kBlue)},
                         {QStringLiteral("LEFTMID"), marked(5, 40, true)},
                         {QStringLiteral("RIGHTTOP"), solid(6, 30, kBlue)},
                         {QStringLiteral("RIGHTMID"), marked(6, 40, true)},
                         {QStringLiteral("LEFTBOT"), solid(12, 7, kYellow)},
                         {QStringLiteral("RIGHTBOT"), solid(12, 7, kMagenta)},
                         {QStringLiteral("BOTTOM"), marked(32, 7, false)}});
        return path;
    }

private slots:
    void init() { SkinStore::clearCache(); }

    // The left border 600 px high: 5 px thick, "LEFTMID" tiled every 40 px from the top down to
    // the last partial tile, "LEFTTOP" over y 0-29.
    void leftBorderTilesAndTopPiece()
    {
        const Frame f = frame(SkinBorder::Left, testSkin(), {100, 600});
        QCOMPARE(f.border->geometry(), QRect(0, 0, 5, 600));
        const QImage image = f.border->grab().toImage();
        QCOMPARE(image.size(), QSize(5, 600));
        for (int x : {0, 4}) {
            QCOMPARE(pixel(image, x, 0), kBlue);
            QCOMPARE(pixel(image, x, 29), kBlue);
            QCOMPARE(pixel(image, x, 30), kGreen); // row 30 of the first tile
            for (int y = 40; y < 600; y += 40) {
                QCOMPARE(pixel(image, x, y), kRed);
                QCOMPARE(pixel(image, x, y - 1), kGreen);
            }
            QCOMPARE(pixel(image, x, 599), kGreen);
        }
    }

    // The bottom border 800 px wide: "RIGHTBOT" (12 px) at x = 788, "LEFTBOT" at 0, "BOTTOM"
    // tiled every 32 px between them.
    void bottomBorderEnds()
    {
        const Frame f = frame(SkinBorder::Bottom, testSkin(), {800, 300});
        QCOMPARE(f.border->geometry(), QRect(0, 293, 800, 7));
        const QImage image = f.border->grab().toImage();
        for (int y : {0, 6}) {
            QCOMPARE(pixel(image, 0, y), kYellow);
            QCOMPARE(pixel(image, 11, y), kYellow);
            QCOMPARE(pixel(image, 12, y), kGreen);
            QCOMPARE(pixel(image, 32, y), kRed);
            QCOMPARE(pixel(image, 768, y), kRed);
            QCOMPARE(pixel(image, 787, y), kGreen);
            QCOMPARE(pixel(image, 788, y), kMagenta);
            QCOMPARE(pixel(image, 799, y), kMagenta);
        }
    }

    // Where no picture lies, the border shows its background colour.
    void backgroundWhereNoPicture()
    {
        const QString path = file(QStringLiteral("toponly.jss"));
        writeSkin(path, {{QStringLiteral("RIGHTTOP"), solid(4, 30, kBlue)}});
        const Frame f = frame(SkinBorder::Right, path, {200, 300});
        QCOMPARE(f.border->geometry(), QRect(196, 0, 4, 300));
        const QImage image = f.border->grab().toImage();
        QCOMPARE(pixel(image, 0, 29), kBlue);
        QCOMPARE(pixel(image, 0, 30), kBack);
        QCOMPARE(pixel(image, 3, 299), kBack);
    }

    // The default skin packed by the build: each border as thick as its picture, painted with it.
    void defaultSkin_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("left") << int(SkinBorder::Left) << "LEFTTOP" << QPoint(0, 0);
        QTest::newRow("right") << int(SkinBorder::Right) << "RIGHTTOP" << QPoint(0, 0);
        QTest::newRow("bottom") << int(SkinBorder::Bottom) << "BOTTOM" << QPoint(200, 0);
    }
    void defaultSkin()
    {
        QFETCH(int, type);
        QFETCH(QString, key);
        QFETCH(QPoint, at);
        const QImage piece(QStringLiteral(BRELVON_SKINS_DIR "/default/") + key +
                           QStringLiteral(".png"));
        QVERIFY(!piece.isNull());
        const Frame f = frame(type, QStringLiteral(BRELVON_DEFAULT_SKIN), {400, 300});
        QCOMPARE(f.border->thickness(),
                 type == SkinBorder::Bottom ? piece.height() : piece.width());
        const QImage image = f.border->grab().toImage();
        const int tileX = at.x() % piece.width();
        for (int y = 0; y < (type == SkinBorder::Bottom ? piece.height() : 24); ++y) {
            for (int x = 0; x < (type == SkinBorder::Bottom ? 1 : piece.width()); ++x)
                QCOMPARE(pixel(image, at.x() + x, at.y() + y),
                         piece.pixelColor(type == SkinBorder::Bottom ? tileX : x, y));
        }
    }

    // Docking by the frame: the side borders between the caption bar and the bottom border, the
    // bottom border along the whole width; all follow the host's size.
    void docking()
    {
        QWidget host;
        host.resize(400, 300);
        auto *frame = new SkinFrame(&host);
        frame->setSkinFile(testSkin());
        frame->captionBar()->setSkinFile(QStringLiteral(BRELVON_DEFAULT_SKIN)); // 27 high
        SkinBorder *left = frame->border(SkinBorder::Left);
        SkinBorder *right = frame->border(SkinBorder::Right);
        SkinBorder *bottom = frame->border(SkinBorder::Bottom);
        QCOMPARE(left->geometry(), QRect(0, 27, 5, 266));
        QCOMPARE(right->geometry(), QRect(394, 27, 6, 266));
        QCOMPARE(bottom->geometry(), QRect(0, 293, 400, 7));

        // A hidden widget gets its resize event when shown; the host is shown, as in the program.
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.resize(500, 350);
        QCOMPARE(left->geometry(), QRect(0, 27, 5, 316));
        QCOMPARE(right->geometry(), QRect(494, 27, 6, 316));
        QCOMPARE(bottom->geometry(), QRect(0, 343, 500, 7));

        // Type 0 outside a frame: placed nowhere, no thickness.
        auto *none = new SkinBorder(&host);
        none->setGeometry(10, 10, 20, 20);
        none->setSkinFile(testSkin());
        host.resize(300, 300);
        QCOMPARE(none->geometry(), QRect(10, 10, 20, 20));
        QCOMPARE(none->thickness(), 0);
    }

    // A skin file replaced while the program runs takes effect at the next REDRAW, including
    // for a border that had no picture before.
    void replacedSkin()
    {
        const QString path = file(QStringLiteral("replaced.jss"));
        writeSkin(path, {});
        Frame f = frame(SkinBorder::Left, path, {100, 200});
        QCOMPARE(f.border->width(), 0);
        writeSkin(path, {{QStringLiteral("LEFTTOP"), solid(9, 30, kBlue)}});
        f.border->REDRAW();
        QCOMPARE(f.border->geometry(), QRect(0, 0, 9, 200));
    }

    // No skin file: borders 0 pixels thick, nothing created, nothing reacts.
    void missingSkin()
    {
        const QString path = file(QStringLiteral("absent/skin.jss"));
        QWidget host;
        host.resize(300, 200);
        auto *frame = new SkinFrame(&host);
        frame->setSkinFile(path);
        for (int type : {1, 2, 3}) {
            SkinBorder *b = frame->border(SkinBorder::BorderType(type));
            QCOMPARE(b->thickness(), 0);
            QCOMPARE(type == 3 ? b->height() : b->width(), 0);
            b->REDRAW();
        }
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QVERIFY(!QFile::exists(path));
    }

    // Hit zones with their 10-pixel corners (both ends included), the sizing cursor of each, and
    // the edges a press of any button resizes from.
    void hitZones_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("zone");
        QTest::addColumn<Qt::CursorShape>("cursor");
        QTest::addColumn<Qt::Edges>("edges");
        const Qt::Edges bl = Qt::BottomEdge | Qt::LeftEdge;
        const Qt::Edges br = Qt::BottomEdge | Qt::RightEdge;
        // Bottom border 800 wide.
        QTest::newRow("bottom x0")
            << 3 << QPoint(0, 3) << Qt::LeftButton << 0 << Qt::SizeBDiagCursor << bl;
        QTest::newRow("bottom x10")
            << 3 << QPoint(10, 3) << Qt::LeftButton << 0 << Qt::SizeBDiagCursor << bl;
        QTest::newRow("bottom x11") << 3 << QPoint(11, 3) << Qt::LeftButton << 1
                                    << Qt::SizeVerCursor << Qt::Edges(Qt::BottomEdge);
        QTest::newRow("bottom x789") << 3 << QPoint(789, 0) << Qt::LeftButton << 1
                                     << Qt::SizeVerCursor << Qt::Edges(Qt::BottomEdge);
        QTest::newRow("bottom x790")
            << 3 << QPoint(790, 6) << Qt::LeftButton << 2 << Qt::SizeFDiagCursor << br;
        QTest::newRow("bottom x799 right button")
            << 3 << QPoint(799, 6) << Qt::RightButton << 2 << Qt::SizeFDiagCursor << br;
        QTest::newRow("bottom edge middle button")
            << 3 << QPoint(400, 2) << Qt::MiddleButton << 1 << Qt::SizeVerCursor
            << Qt::Edges(Qt::BottomEdge);
        // Side borders 600 high.
        QTest::newRow("left y0") << 1 << QPoint(2, 0) << Qt::LeftButton << 1 << Qt::SizeHorCursor
                                 << Qt::Edges(Qt::LeftEdge);
        QTest::newRow("left y589") << 1 << QPoint(2, 589) << Qt::LeftButton << 1
                                   << Qt::SizeHorCursor << Qt::Edges(Qt::LeftEdge);
        QTest::newRow("left y590")
            << 1 << QPoint(2, 590) << Qt::LeftButton << 0 << Qt::SizeBDiagCursor << bl;
        QTest::newRow("left y599 middle button")
            << 1 << QPoint(0, 599) << Qt::MiddleButton << 0 << Qt::SizeBDiagCursor << bl;
        QTest::newRow("right y589 right button") << 2 << QPoint(5, 589) << Qt::RightButton << 1
                                                 << Qt::SizeHorCursor << Qt::Edges(Qt::RightEdge);
        QTest::newRow("right y590")
            << 2 << QPoint(0, 590) << Qt::LeftButton << 2 << Qt::SizeFDiagCursor << br;
    }
    void hitZones()
    {
        QFETCH(int, type);
        QFETCH(QPoint, at);
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, zone);
        QFETCH(Qt::CursorShape, cursor);
        QFETCH(Qt::Edges, edges);
        const Frame f = frame(type, testSkin(), {800, 600}, true);
        QCOMPARE(type == 3 ? f.border->width() : f.border->height(), type == 3 ? 800 : 600);
        // Start from another zone, so that the move has something to change.
        moveOver(f.border, type == 3 ? QPointF(400, 1) : QPointF(1, 300));
        moveOver(f.border, at);
        QCOMPARE(int(f.border->hitZone()), zone);
        QCOMPARE(f.border->cursor().shape(), cursor);
        const QRect before = f.host->geometry();
        drag(f.border, at, button, {});
        QCOMPARE(f.border->lastResizeEdges(), edges);
        QCOMPARE(f.host->geometry(), before);
    }

    // While resizing is not allowed (caption style NoBorderResize) the border changes neither
    // cursor nor zone and resizes nothing.
    void resizeNotAllowed_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("left corner") << 1 << QPoint(1, 595);
        QTest::newRow("right edge") << 2 << QPoint(1, 100);
        QTest::newRow("bottom corner") << 3 << QPoint(795, 3);
        QTest::newRow("bottom edge") << 3 << QPoint(400, 3);
    }
    void resizeNotAllowed()
    {
        QFETCH(int, type);
        QFETCH(QPoint, at);
        const Frame f = frame(type, testSkin(), {800, 600}, true);
        f.frame->captionBar()->setCaptionStyle(SkinCaptionBar::NoBorderResize);
        QVERIFY(!f.border->resizeEnabled());
        const QRect before = f.host->geometry();
        moveOver(f.border, at);
        QCOMPARE(int(f.border->hitZone()), 0);
        QCOMPARE(f.border->cursor().shape(), Qt::ArrowCursor);
        drag(f.border, at, Qt::LeftButton, {{30, 20}});
        QCOMPARE(f.border->lastResizeEdges(), Qt::Edges());
        QCOMPARE(f.host->geometry(), before);
    }

    // Where the platform has no sizing loop (offscreen here), the border resizes the host itself,
    // following the pointer until release, never below the host's minimum size.
    void followsPointer_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected"); // host starts at (100, 80) 400 x 300
        QTest::newRow("bottom-right corner")
            << 3 << QPoint(395, 3) << QPoint(30, 20) << QRect(100, 80, 430, 320);
        QTest::newRow("bottom edge")
            << 3 << QPoint(200, 3) << QPoint(30, 20) << QRect(100, 80, 400, 320);
        QTest::newRow("bottom-left corner")
            << 3 << QPoint(5, 3) << QPoint(30, 20) << QRect(130, 80, 370, 320);
        QTest::newRow("left edge")
            << 1 << QPoint(2, 100) << QPoint(-30, 20) << QRect(70, 80, 430, 300);
        QTest::newRow("left corner")
            << 1 << QPoint(2, 295) << QPoint(-30, 20) << QRect(70, 80, 430, 320);
        QTest::newRow("right edge")
            << 2 << QPoint(2, 100) << QPoint(30, 20) << QRect(100, 80, 430, 300);
        QTest::newRow("right corner")
            << 2 << QPoint(2, 295) << QPoint(30, 20) << QRect(100, 80, 430, 320);
        // The minimum size is 250 x 150.
        QTest::newRow("corner below minimum")
            << 3 << QPoint(395, 3) << QPoint(-1000, -1000) << QRect(100, 80, 250, 150);
        QTest::newRow("left edge below minimum")
            << 1 << QPoint(2, 100) << QPoint(1000, 0) << QRect(250, 80, 250, 300);
    }
    void followsPointer()
    {
        QFETCH(int, type);
        QFETCH(QPoint, at);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        const Frame f = frame(type, testSkin(), {400, 300}, true, {250, 150});
        QCOMPARE(f.host->geometry(), QRect(100, 80, 400, 300));
        moveOver(f.border, at);
        drag(f.border, at, Qt::LeftButton, {delta / 3, delta});
        QCOMPARE(f.host->geometry(), expected);
        // The border stays docked on the resized host.
        const QRect docked =
            type == SkinBorder::Bottom ? QRect(0, expected.height() - 7, expected.width(), 7)
            : type == SkinBorder::Left ? QRect(0, 0, 5, expected.height())
                                       : QRect(expected.width() - 6, 0, 6, expected.height());
        QCOMPARE(f.border->geometry(), docked);
        // After the release, moving no longer resizes.
        moveOver(f.border, QPointF(1, 1));
        QCOMPARE(f.host->geometry(), expected);
    }
};

QTEST_MAIN(TestBorder)
#include "test_border.moc"
