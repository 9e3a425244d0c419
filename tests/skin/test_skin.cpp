#include "skin/olecolour.h"
#include "skin/skinkeys.h"
#include "skin/skinload.h"
#include "skin/skinpicture.h"
#include "skin/skinstore.h"
#include "skin/staysontop.h"
#include "testzip.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using Entries = ZipEntries;

namespace {

QByteArray png(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return pngBytes(image);
}

const QByteArray kIni = "[numbers]\nXOFFSET=11\nXOFFSET2=-6\nYOFFSET=4\nFROMRIGHT=5\n"
                        "FROMTOP=3\nICONSPACE=2\n[colours]\nFORECOLOR=#FFFFFF\n"
                        "BackColor=#1C347F\nPARENTBACKCOLOR=#FFF7EE\n";

Entries completeSkin()
{
    Entries entries{{QStringLiteral("skin.ini"), kIni}};
    int i = 0;
    for (const SkinKey &k : kSkinKeys) {
        if (k.kind == SkinKind::Picture)
            entries.append({QLatin1String(k.name) + QStringLiteral(".png"),
                            png(5 + i, 3 + i, qRgb(10 * i, 100, 200))});
        ++i;
    }
    return entries;
}

QStringList presentKeys(const SkinStore &store)
{
    QStringList keys;
    for (const SkinKey &k : kSkinKeys) {
        if (store.kind(QLatin1String(k.name)) != SkinKind::Absent)
            keys << QLatin1String(k.name);
    }
    return keys;
}

struct ToolRun
{
    int code;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(BRELVON_SKIN_TOOL), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void init() { SkinStore::clearCache(); }

    // The bundled skins, packed by the tool and read back: every key with its kind and value.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("skin");
        QTest::newRow("default") << QStringLiteral("default");
        QTest::newRow("graphite") << QStringLiteral("graphite");
    }
    void roundTrip()
    {
        QFETCH(QString, skin);
        const QString source = QStringLiteral(BRELVON_SKINS_DIR "/") + skin;
        const QString packed = file(skin + QStringLiteral(".jss"));
        const ToolRun run = runTool({QStringLiteral("pack"), source, packed});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));

        const auto store = SkinStore::load(packed);
        SkinStore expected;
        QFile ini(source + QStringLiteral("/skin.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QStringList problems;
        expected.readIni(ini.readAll(), &problems);
        QVERIFY(problems.isEmpty());
        for (const SkinKey &k : kSkinKeys) {
            const QString key = QLatin1String(k.name);
            QCOMPARE(store->kind(key), k.kind);
            if (k.kind == SkinKind::Picture) {
                const QImage want = QImage(source + u'/' + key + QStringLiteral(".png"))
                                        .convertToFormat(QImage::Format_RGB32);
                QCOMPARE(*store->picture(key), want);
            } else if (k.kind == SkinKind::Number) {
                QCOMPARE(store->number(key), expected.number(key));
            } else {
                QCOMPARE(store->colour(key), expected.colour(key));
            }
        }
        if (skin == QLatin1String("default")) {
            // The blue caption: #5A7EDC in the middle of the bar.
            const QImage mid = *store->picture(QStringLiteral("TOPMID"));
            QCOMPARE(mid.height(), 27);
            QCOMPARE(store->number(QStringLiteral("FROMTOP")), std::optional<qint16>(3));
            QCOMPARE(store->colour(QStringLiteral("PARENTBACKCOLOR")), parseSkinColour(u"#FFF7EE"));
            QCOMPARE(store->picture(QStringLiteral("LEFTTOP"))->width(), 7);
        }
    }

    void skinsDiffer()
    {
        const QString a = file(QStringLiteral("a.jss")), b = file(QStringLiteral("b.jss"));
        QCOMPARE(runTool({"pack", BRELVON_SKINS_DIR "/default", a}).code, 0);
        QCOMPARE(runTool({"pack", BRELVON_SKINS_DIR "/graphite", b}).code, 0);
        const QRgb blue = SkinStore::load(a)->picture("TOPMID")->pixel(0, 13);
        const QRgb grey = SkinStore::load(b)->picture("TOPMID")->pixel(0, 13);
        QVERIFY(qBlue(blue) > qRed(blue) + 60);
        QVERIFY(qAbs(qBlue(grey) - qRed(grey)) < 30);
    }

    // Files the store cannot use: the listed keys are present, all others absent, no crash.
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("present");

        QByteArray complete;
        {
            const QString path = file(QStringLiteral("complete.jss"));
            QVERIFY(writeZip(path, completeSkin(), true));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            complete = f.readAll();
        }
        QStringList pictures, all;
        for (const SkinKey &k : kSkinKeys) {
            all << QLatin1String(k.name);
            if (k.kind == SkinKind::Picture)
                pictures << QLatin1String(k.name);
        }
        QTest::newRow("complete") << complete << all;
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("not a zip")
            << QByteArray("skin.ini\n[numbers]\nXOFFSET=1\n") << QStringList();
        QTest::newRow("truncated zip") << complete.left(complete.size() / 2) << QStringList();
        QTest::newRow("zip without its directory end")
            << complete.left(complete.size() - 10) << QStringList();
        // A flipped byte in a stored picture fails its CRC or its decoding; nothing else suffers.
        QByteArray flipped = complete;
        const qsizetype at = flipped.indexOf("IDAT") + 8;
        QVERIFY(at > 8);
        flipped[at] = char(flipped[at] ^ 0x55);
        QTest::newRow("damaged first picture") << flipped << all.mid(1);
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, present);
        const QString path = file(QStringLiteral("damaged.jss"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        QCOMPARE(presentKeys(*SkinStore::load(path)), present);
        QCOMPARE(presentKeys(*SkinStore::fromArchive(bytes)), present);
    }

    void missingFileIsNotCreated()
    {
        const QString path = file(QStringLiteral("nowhere/skin.jss"));
        const QString here = file(QStringLiteral("absent.jss"));
        QVERIFY(SkinStore::load(path)->isEmpty());
        QVERIFY(SkinStore::load(here)->isEmpty());
        QVERIFY(SkinStore::load(QString())->isEmpty());
        QVERIFY(SkinStore::load(m_dir.path())->isEmpty()); // a folder, not a file
        QVERIFY(!QFileInfo::exists(here));
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("nowhere"))));
    }

    // Entries and skin.ini lines the store rejects: only the named keys go absent.
    void badEntries_data()
    {
        QTest::addColumn<Entries>("replace");
        QTest::addColumn<QStringList>("absent");

        QTest::newRow("no skin.ini")
            << Entries{{"skin.ini", {}}}
            << QStringList{"XOFFSET",   "XOFFSET2",  "YOFFSET",   "FROMRIGHT",      "FROMTOP",
                           "ICONSPACE", "FORECOLOR", "BackColor", "PARENTBACKCOLOR"};
        QTest::newRow("text under a picture key")
            << Entries{{"CLOSE.png", "this is no picture"}} << QStringList{"CLOSE"};
        QTest::newRow("gif under a picture key")
            << Entries{{"MAX.png", QByteArray::fromBase64(
                                       "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7")}}
            << QStringList{"MAX"};
        QTest::newRow("20 MiB entry")
            << Entries{{"TOPMID.png", QByteArray(20 * 1024 * 1024, 'x')}} << QStringList{"TOPMID"};
        QTest::newRow("picture over 4096 pixels")
            << Entries{{"BOTTOM.png", png(4097, 1, qRgb(1, 2, 3))}} << QStringList{"BOTTOM"};
        QTest::newRow("lower-case entry name")
            << Entries{{"MIN.png", {}}, {"min.png", png(3, 3, 0)}} << QStringList{"MIN"};
        QTest::newRow("bmp picture")
            << Entries{{"MIN.png", {}},
                       {"MIN.BMP",
                        [] {
                            QByteArray b;
                            QBuffer buf(&b);
                            buf.open(QIODevice::WriteOnly);
                            QImage(4, 4, QImage::Format_RGB32).save(&buf, "BMP");
                            return b;
                        }()}}
            << QStringList{};
        QTest::newRow("broken ini lines")
            << Entries{{"skin.ini",
                        "[numbers]\nXOFFSET=eleven\nXOFFSET2=32768\nYOFFSET=-32768\n"
                        "FROMRIGHT\nFROMTOP = 3 ; gap\n[numbers] ; again\nICONSPACE=2\n[colours\n"
                        "FORECOLOR=#FFFFFF\n[colours]\nBackColor=#12345\n"
                        "PARENTBACKCOLOR=#GG0000\n"}}
            << QStringList{"XOFFSET",   "XOFFSET2",  "FROMRIGHT",
                           "FORECOLOR", "BackColor", "PARENTBACKCOLOR"};
        // Exactly one skin.ini, by its exact name, of at most 64 KiB.
        QTest::newRow("SKIN.INI is not skin.ini")
            << Entries{{"skin.ini", {}}, {"SKIN.INI", kIni}}
            << QStringList{"XOFFSET",   "XOFFSET2",  "YOFFSET",   "FROMRIGHT",      "FROMTOP",
                           "ICONSPACE", "FORECOLOR", "BackColor", "PARENTBACKCOLOR"};
        QTest::newRow("skin.ini over 64 KiB")
            << Entries{{"skin.ini", kIni + ";" + QByteArray(64 * 1024, 'x') + "\n"}}
            << QStringList{"XOFFSET",   "XOFFSET2",  "YOFFSET",   "FROMRIGHT",      "FROMTOP",
                           "ICONSPACE", "FORECOLOR", "BackColor", "PARENTBACKCOLOR"};
        // The pictures share one pixel budget, spent in key order: border, bar, buttons.
        QTest::newRow("pictures over the budget")
            << Entries{{"MIN2.png", png(1500, 1000, qRgb(1, 2, 3))},
                       {"TOPMID.png", png(1500, 1000, qRgb(1, 2, 3))},
                       {"LEFTMID.png", png(1500, 1000, qRgb(1, 2, 3))}}
            << QStringList{"TOPMID", "MIN2"};
        QTest::newRow("keys in the wrong section or case")
            << Entries{{"skin.ini", "[colours]\nXOFFSET=1\n[numbers]\nFORECOLOR=#FFFFFF\n"
                                    "xoffset2=1\nYOFFSET=1\nFROMRIGHT=1\nFROMTOP=1\nICONSPACE=1\n"
                                    "[colours]\nBACKCOLOR=#000000\nPARENTBACKCOLOR=#000000\n"}}
            << QStringList{"XOFFSET", "XOFFSET2", "FORECOLOR", "BackColor"};
    }
    void badEntries()
    {
        QFETCH(Entries, replace);
        QFETCH(QStringList, absent);
        Entries entries = completeSkin();
        for (const auto &[name, bytes] : replace) {
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [&](const auto &e) {
                                             return e.first.compare(name, Qt::CaseInsensitive) == 0;
                                         }),
                          entries.end());
            if (!bytes.isEmpty())
                entries.append({name, bytes});
        }
        const QString path = file(QStringLiteral("bad.jss"));
        QVERIFY(writeZip(path, entries));
        const auto store = SkinStore::load(path);
        for (const SkinKey &k : kSkinKeys) {
            const QString key = QLatin1String(k.name);
            QCOMPARE(store->kind(key), absent.contains(key) ? SkinKind::Absent : k.kind);
        }
    }

    void keysAreCaseSensitive()
    {
        const QString path = file(QStringLiteral("case.jss"));
        QVERIFY(writeZip(path, completeSkin()));
        const auto store = SkinStore::load(path);
        QVERIFY(store->colour(QStringLiteral("BackColor")));
        QVERIFY(!store->colour(QStringLiteral("BACKCOLOR")));
        QVERIFY(!store->colour(QStringLiteral("backcolor")));
        QVERIFY(!store->picture(QStringLiteral("close")));
        QVERIFY(!store->number(QStringLiteral("FORECOLOR"))); // a colour, not a number
        QCOMPARE(store->kind(QStringLiteral("NOSUCHKEY")), SkinKind::Absent);
        QCOMPARE(store->number(QStringLiteral("XOFFSET2")), std::optional<qint16>(-6));
        QCOMPARE(store->colour(QStringLiteral("BackColor")), std::optional<quint32>(0x007F341C));
    }

    // The cache gives the same store while the file is unchanged and the new values once it is
    // replaced, even by a file of the same size and modification time.
    void cacheFollowsTheFile()
    {
        const QString path = file(QStringLiteral("cached.jss"));
        auto withFromTop = [](const char *value) {
            Entries e = completeSkin();
            e[0].second.replace("FROMTOP=3", QByteArray("FROMTOP=") + value);
            return e;
        };
        QVERIFY(writeZip(path, withFromTop("3"), true));
        const auto first = SkinStore::load(path);
        QCOMPARE(first->number(QStringLiteral("FROMTOP")), std::optional<qint16>(3));
        QCOMPARE(SkinStore::load(path).get(), first.get());

        struct stat before;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
        const QString next = file(QStringLiteral("next.jss"));
        QVERIFY(writeZip(next, withFromTop("4"), true));
        QCOMPARE(QFileInfo(next).size(), QFileInfo(path).size());
        struct utimbuf times
        {
            before.st_atime, before.st_mtime
        };
        QCOMPARE(::utime(QFile::encodeName(next).constData(), &times), 0);
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(next, path));

        const auto second = SkinStore::load(path);
        QCOMPARE(second->number(QStringLiteral("FROMTOP")), std::optional<qint16>(4));
        QCOMPARE(first->number(QStringLiteral("FROMTOP")), std::optional<qint16>(3));

        QVERIFY(QFile::remove(path));
        QVERIFY(SkinStore::load(path)->isEmpty());
    }

    void loadHelperSkipsAbsentKeys()
    {
        const QString path = file(QStringLiteral("partial.jss"));
        QVERIFY(
            writeZip(path, {{"skin.ini", "[numbers]\nFROMTOP=7\n[colours]\nFORECOLOR=#FF8000\n"},
                            {"TOPLEFT.png", png(8, 27, qRgb(90, 126, 220))}}));
        SkinPicture left, mid;
        mid.load(QImage(2, 2, QImage::Format_RGB32)); // a previous picture
        qint16 fromTop = 1, fromRight = 9;
        quint32 fore = 0, back = 0x123456;
        QColor foreColour;
        SkinLoad load(path);
        load.picture("TOPLEFT", left)
            .picture("TOPMID", mid)
            .number("FROMTOP", fromTop)
            .number("FROMRIGHT", fromRight)
            .colour("FORECOLOR", fore)
            .colour("FORECOLOR", foreColour)
            .colour("BackColor", back);
        QCOMPARE(left.width(), 8);
        QCOMPARE(left.height(), 27);
        QCOMPARE(left.pixmap().toImage().pixel(0, 0), qRgb(90, 126, 220));
        QVERIFY(!mid.isEmpty()); // absent key: the target keeps what it had
        QCOMPARE(fromTop, qint16(7));
        QCOMPARE(fromRight, qint16(9));
        QCOMPARE(fore, quint32(0x000080FF));
        QCOMPARE(foreColour, QColor(255, 128, 0));
        QCOMPARE(back, quint32(0x123456));
        QCOMPARE(load.store().get(), SkinStore::load(path).get());

        // A missing skin: every target keeps its value, fresh bitmaps stay empty.
        SkinPicture fresh;
        SkinLoad(file(QStringLiteral("missing.jss")))
            .picture("TOPLEFT", fresh)
            .number("FROMTOP", fromTop);
        QVERIFY(fresh.isEmpty());
        QCOMPARE(fresh.width(), 0);
        QCOMPARE(fromTop, qint16(7));
    }

    void oleColours()
    {
        QCOMPARE(colourFromOle(0x00DC7E5A), QColor(90, 126, 220));
        QCOMPARE(oleFromColour(QColor(0xFF, 0xE0, 0xC0)), quint32(0x00C0E0FF));
        QCOMPARE(formatSkinColour(0x00C0E0FF), QStringLiteral("#FFE0C0"));
        QCOMPARE(colourFromOle(0x80000012), QGuiApplication::palette().color(QPalette::ButtonText));
    }

    void bitmapLifecycle()
    {
        SkinPicture bmp;
        QVERIFY(bmp.isEmpty());
        QVERIFY(bmp.pixmap().isNull());
        QVERIFY(!bmp.load(QImage())); // the "no picture" case
        QVERIFY(bmp.pixmap().isNull());
        QCOMPARE(bmp.width(), 0);

        QImage first(5, 4, QImage::Format_RGB32);
        first.fill(Qt::red);
        QVERIFY(bmp.load(first));
        QCOMPARE(bmp.width(), 5);
        QCOMPARE(bmp.height(), 4);
        QVERIFY(!bmp.pixmap().isNull());

        QImage second(3, 2, QImage::Format_RGB32);
        second.fill(Qt::green);
        QVERIFY(bmp.load(second)); // replaces the first
        QCOMPARE(bmp.width(), 3);
        QCOMPARE(bmp.height(), 2);
        QCOMPARE(bmp.pixmap().toImage().pixel(0, 0), QColor(Qt::green).rgb());

        // A failed load empties the object but leaves the previous size.
        QVERIFY(!bmp.load(QImage()));
        QVERIFY(bmp.pixmap().isNull());
        QCOMPARE(bmp.width(), 3);
        QCOMPARE(bmp.height(), 2);
        QVERIFY(bmp.load(second));
        QVERIFY(!bmp.loadFile(file(QStringLiteral("no-such.png"))));
        QVERIFY(bmp.pixmap().isNull());
        QCOMPARE(bmp.width(), 3);

        const QString pngPath = file(QStringLiteral("piece.png"));
        QVERIFY(QImage(QSize(6, 7), QImage::Format_RGB32).save(pngPath));
        QVERIFY(bmp.loadFile(pngPath));
        QCOMPARE(bmp.width(), 6);
        QCOMPARE(bmp.height(), 7);
        QFile text(file(QStringLiteral("text.png")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        QVERIFY(!bmp.loadFile(text.fileName()));
        QVERIFY(bmp.isEmpty());
    }

    // Paint copies opaquely at the picture's own size; an empty bitmap paints nothing.
    void bitmapPaint()
    {
        QImage surface(10, 10, QImage::Format_ARGB32);
        surface.fill(Qt::white);
        QImage piece(3, 2, QImage::Format_ARGB32);
        piece.fill(qRgba(0, 0, 255, 0)); // transparent: a bitmap has no alpha, drawn blue
        SkinPicture bmp, empty;
        QVERIFY(bmp.load(piece));
        {
            QPainter p(&surface);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            bmp.paint(p, 4, 5);
            empty.paint(p, 0, 0);
            QCOMPARE(p.compositionMode(), QPainter::CompositionMode_SourceOver);
        }
        QCOMPARE(surface.pixel(4, 5), qRgb(0, 0, 255));
        QCOMPARE(surface.pixel(6, 6), qRgb(0, 0, 255));
        QCOMPARE(surface.pixel(7, 5), qRgb(255, 255, 255));
        QCOMPARE(surface.pixel(4, 7), qRgb(255, 255, 255));
        QCOMPARE(surface.pixel(0, 0), qRgb(255, 255, 255));
    }

    void onTopKeepsPlaceAndSize()
    {
        setStaysOnTop(nullptr, true);
        setStaysOnTop(nullptr, false);

        QWidget window;
        window.setGeometry(120, 90, 300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect before = window.geometry();
        QWidget *child = new QWidget(&window);

        setStaysOnTop(child, true); // acts on the child's window
        QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), before);

        setStaysOnTop(&window, false);
        QVERIFY(!window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), before);

        // Before the window exists the flag waits for its first showing.
        QWidget later;
        setStaysOnTop(&later, true);
        QVERIFY(!later.isVisible());
        later.show();
        QVERIFY(QTest::qWaitForWindowExposed(&later));
        QVERIFY(later.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void toolErrors()
    {
        const QString dir = file(QStringLiteral("toolskin"));
        QVERIFY(QDir().mkpath(dir));
        auto put = [&](const QString &name, const QByteArray &bytes) {
            QFile f(dir + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        };
        put(QStringLiteral("skin.ini"), kIni);
        put(QStringLiteral("CLOSE.png"), png(21, 21, qRgb(200, 60, 30)));
        const QString out = file(QStringLiteral("tool.jss"));

        QCOMPARE(runTool({}).code, 2);
        QCOMPARE(runTool({"pack", dir}).code, 2);
        QCOMPARE(runTool({"frobnicate", dir, out}).code, 2);

        ToolRun run = runTool({"pack", dir, out}); // 23 pictures missing: a warning
        QCOMPARE(run.code, 0);
        QVERIFY(run.err.contains(QStringLiteral("23 of 33 keys missing")));
        QVERIFY(run.err.contains(QStringLiteral("TOPLEFT")));
        run = runTool({"list", out});
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.contains(QStringLiteral("CLOSE            picture  21 x 21")));
        QVERIFY(run.out.contains(QStringLiteral("XOFFSET2         number   -6")));
        QVERIFY(run.out.contains(QStringLiteral("BackColor        colour   #1C347F")));
        QVERIFY(run.out.contains(QStringLiteral("10 of 33 keys; missing: LEFTTOP")));

        const QString unpacked = file(QStringLiteral("unpacked"));
        QCOMPARE(runTool({"unpack", out, unpacked}).code, 0);
        QFile ini(unpacked + QStringLiteral("/skin.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(ini.readAll(), kIni);
        QVERIFY(QFileInfo::exists(unpacked + QStringLiteral("/CLOSE.png")));
        QCOMPARE(runTool({"unpack", out, unpacked}).code, 1); // would overwrite

        // Only the entry named exactly skin.ini is the skin's; its case variants are not
        // unpacked over it.
        const QString variants = file(QStringLiteral("variants.jss"));
        QVERIFY(writeZip(variants, {{QStringLiteral("SKIN.INI"), "[numbers]\nXOFFSET=99\n"},
                                    {QStringLiteral("skin.ini"), kIni},
                                    {QStringLiteral("CLOSE.png"), png(2, 2, 0)},
                                    {QStringLiteral("Skin.Ini"), "[numbers]\nXOFFSET=98\n"}}));
        run = runTool({"unpack", variants, file(QStringLiteral("variants"))});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(QStringLiteral("unpacked 2 entries")), qPrintable(run.out));
        QFile variantIni(file(QStringLiteral("variants/skin.ini")));
        QVERIFY(variantIni.open(QIODevice::ReadOnly));
        QCOMPARE(variantIni.readAll(), kIni);
        QCOMPARE(QDir(file(QStringLiteral("variants"))).entryList(QDir::Files).size(), 2);

        QCOMPARE(runTool({"list", file(QStringLiteral("none.jss"))}).code, 1);
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("none.jss"))));
        put(QStringLiteral("garbage.jss"), "not a zip");
        QCOMPARE(runTool({"list", dir + QStringLiteral("/garbage.jss")}).code, 1);
        QCOMPARE(runTool({"unpack", dir + QStringLiteral("/garbage.jss"), unpacked}).code, 1);
        QCOMPARE(runTool({"pack", file(QStringLiteral("nofolder")), out}).code, 1);

        // Refused: an unknown file, a number key as a picture, a broken picture, a wrong ini key.
        QFile::remove(dir + QStringLiteral("/garbage.jss"));
        const QList<QPair<QString, QByteArray>> refused{
            {QStringLiteral("notes.txt"), "hello"},
            {QStringLiteral("XOFFSET.png"), png(2, 2, 0)},
            {QStringLiteral("close.png"), png(2, 2, 0)},
            {QStringLiteral("MAX.png"), "broken"},
            {QStringLiteral("skin.ini"), "[numbers]\nXOFFSET=1\nWIDTH=3\n"},
        };
        for (const auto &[name, bytes] : refused) {
            QFile::remove(out);
            const QByteArray original = [&] {
                QFile f(dir + u'/' + name);
                return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            }();
            put(name, bytes);
            run = runTool({"pack", dir, out});
            QVERIFY2(run.code == 1, qPrintable(name));
            QVERIFY2(run.err.contains(name), qPrintable(run.err));
            QVERIFY(!QFileInfo::exists(out));
            if (original.isEmpty())
                QFile::remove(dir + u'/' + name);
            else
                put(name, original);
        }
        QCOMPARE(runTool({"pack", dir, out}).code, 0);
    }
};

QTEST_MAIN(TestSkin)
#include "test_skin.moc"
