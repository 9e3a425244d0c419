// Loading every key of the default skin: from the warm cache, as the frame controls do on each
// paint, against decoding the archive each time.
//
//   build/bin/bench_skin [SKIN.jss]

#include "skin/skinkeys.h"
#include "skin/skinload.h"
#include "skin/skinpicture.h"
#include "skin/skinstore.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

QString g_skin = QStringLiteral(BRELVON_DEFAULT_SKIN);

void readAllKeys(const SkinStore &store, benchmark::State &state)
{
    int found = 0;
    for (const SkinKey &k : kSkinKeys) {
        const QString key = QLatin1String(k.name);
        switch (k.kind) {
        case SkinKind::Picture:
            found += store.picture(key).has_value();
            break;
        case SkinKind::Number:
            found += store.number(key).has_value();
            break;
        default:
            found += store.colour(key).has_value();
            break;
        }
    }
    if (found != 33)
        state.SkipWithError("the skin lacks keys");
    benchmark::DoNotOptimize(found);
}

void BM_AllKeysWarmCache(benchmark::State &state)
{
    SkinStore::load(g_skin);
    for (auto _ : state)
        readAllKeys(*SkinStore::load(g_skin), state);
}
BENCHMARK(BM_AllKeysWarmCache);

void BM_AllKeysDecodeEachTime(benchmark::State &state)
{
    for (auto _ : state)
        readAllKeys(*SkinStore::readFile(g_skin), state);
}
BENCHMARK(BM_AllKeysDecodeEachTime);

// The caption bar's whole load procedure through the cache: store, ten fresh bitmaps, the
// numbers and colours.
void BM_CaptionLoadProcedure(benchmark::State &state)
{
    SkinStore::load(g_skin);
    for (auto _ : state) {
        SkinPicture left, mid, right, close, max, min, onTop;
        qint16 x = 0, x2 = 0, y = 0, fromRight = 0, fromTop = 0, space = 0;
        quint32 fore = 0, back = 0, parent = 0;
        SkinLoad(g_skin)
            .picture("TOPLEFT", left)
            .picture("TOPMID", mid)
            .picture("TOPRIGHT", right)
            .picture("CLOSE", close)
            .picture("MAX", max)
            .picture("MIN", min)
            .picture("ONTOP1", onTop)
            .number("XOFFSET", x)
            .number("XOFFSET2", x2)
            .number("YOFFSET", y)
            .number("FROMRIGHT", fromRight)
            .number("FROMTOP", fromTop)
            .number("ICONSPACE", space)
            .colour("FORECOLOR", fore)
            .colour("BackColor", back)
            .colour("PARENTBACKCOLOR", parent);
        benchmark::DoNotOptimize(left.width() + onTop.width() + x + fore);
    }
}
BENCHMARK(BM_CaptionLoadProcedure);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (argc > 1)
        g_skin = QString::fromLocal8Bit(argv[1]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
