// The main window wearing its skinned frame: skin hand-off, borders per window state, the cut
// top corners and the minimum size.
#include "mainwindow/mainwindow.h"
#include "skin/skinframe.h"
#include "windowonsession.h"

#include <QtTest>

#include <memory>

class TestFrame : public QObject
{
    Q_OBJECT

    // No hosts: the start-up list is not fetched, the window starts with its defaults.
    std::unique_ptr<MainWindow> makeWindow() { return windowOn(QuerySettings()); }

    static SkinCaptionBar *caption(QWidget *w)
    {
        return w->findChild<SkinCaptionBar *>("JSCAPTION1");
    }
    static SkinBorder *border(QWidget *w, int n)
    {
        return w->findChild<SkinBorder *>(QStringLiteral("JSBORDER%1").arg(n));
    }
    static bool bordersShown(QWidget *w)
    {
        return border(w, 1)->isVisible() && border(w, 2)->isVisible() && border(w, 3)->isVisible();
    }

    // A double-click on the bar away from its buttons, as the platform delivers it.
    static void doubleClickBar(SkinCaptionBar *bar)
    {
        const QPoint at(120, bar->buttonTop() + 3);
        QTest::mousePress(bar, Qt::LeftButton, {}, at);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
        QTest::mousePress(bar, Qt::LeftButton, {}, at);
        QTest::mouseDClick(bar, Qt::LeftButton, {}, at);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
    }

private slots:
    void init() { MainWindow::setSkinFile(QString()); }
    void cleanup() { MainWindow::setSkinFile(QString()); }

    void frameControlsGetTheSkin()
    {
        // The skin beside the executable: the tests are built where the program is.
        QCOMPARE(MainWindow::skinFilePath(), QCoreApplication::applicationDirPath() + "/skin.jss");
        auto w = makeWindow();
        QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(caption(w.get())->skinFile(), MainWindow::skinFilePath());
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(border(w.get(), n)->borderType(), n);
            QCOMPARE(border(w.get(), n)->skinFile(), MainWindow::skinFilePath());
        }
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // Docked: bar on top, borders below it on the sides and along the bottom.
        SkinCaptionBar *bar = caption(w.get());
        QTRY_COMPARE(bar->geometry(), QRect(0, 0, 628, bar->height()));
        QVERIFY(bar->height() > 0);
        QTRY_COMPARE(border(w.get(), 1)->geometry().top(), bar->height());
        QCOMPARE(border(w.get(), 1)->geometry().left(), 0);
        QCOMPARE(border(w.get(), 2)->geometry().right(), 627);
        QCOMPARE(border(w.get(), 3)->geometry().bottom(), 312);
        QVERIFY(border(w.get(), 3)->height() > 0);
        QCOMPARE(bar->windowModeValue(), 2);
        QVERIFY(bordersShown(w.get()));
        QVERIFY(w->frame()->resizeAllowed());
    }

    void windowShape()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->size(), QSize(628, 313)); // 9420 x 4695 twips
        // W 628, R 625, H 313: the top edge runs from x 3 to 625, the right edge starts at y 4.
        const QRegion mask = w->mask();
        QVERIFY(!mask.isEmpty());
        const struct
        {
            QPoint at;
            bool inside;
        } probes[] = {
            {{0, 0}, false},     {{1, 1}, false},     {{0, 3}, true},   {{3, 0}, true},
            {{5, 5}, true},      {{625, 0}, false},   {{624, 0}, true}, {{627, 2}, false},
            {{627, 5}, true},    {{627, 312}, true},  {{0, 312}, true}, {{300, 150}, true},
            {{628, 100}, false}, {{100, 313}, false},
        };
        for (const auto &p : probes)
            QVERIFY2(mask.contains(p.at) == p.inside,
                     qPrintable(QStringLiteral("(%1, %2)").arg(p.at.x()).arg(p.at.y())));
    }

    void minimumSizeInNormalState()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->resize(3000 / 15, 1000 / 15);
        // 4444 x 2222 twips, in whole pixels of 15 twips.
        QTRY_COMPARE(w->size(), QSize(296, 148));
        w->resize(500, 200);
        QTRY_COMPARE(w->size(), QSize(500, 200));
    }

    void bordersFollowTheWindowState()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        SkinCaptionBar *bar = caption(w.get());
        QTRY_COMPARE(bar->windowModeValue(), 2);

        doubleClickBar(bar);
        QTRY_COMPARE(bar->windowModeValue(), 1);
        QTRY_VERIFY(!bordersShown(w.get()));
        QVERIFY(w->mask().isEmpty()); // a plain rectangle while maximised
        QVERIFY(!w->frame()->resizeAllowed());
        // No minimum size is forced on a maximised window.
        QCOMPARE(w->minimumSize(), QSize(0, 0));

        doubleClickBar(bar);
        QTRY_COMPARE(bar->windowModeValue(), 2);
        QTRY_VERIFY(bordersShown(w.get()));
        QTRY_COMPARE(w->size(), QSize(628, 313));
        QVERIFY(!w->mask().isEmpty());
        QVERIFY(w->frame()->resizeAllowed());
    }

    void missingSkin()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("skin.jss");
        MainWindow::setSkinFile(path);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(caption(w.get())->height(), 0);
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(border(w.get(), n)->thickness(), 0);
        QVERIFY(!QFileInfo::exists(path)); // reading a skin never creates one
        // The content is all there.
        QVERIFY(w->findChild<QWidget *>("Command7")->isVisible());
    }
};

QTEST_MAIN(TestFrame)
#include "test_frame.moc"
