#include "files/idfile.h"
#include "files/spreadsheetexport.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QList<BatchRow> fullBatch()
{
    QList<BatchRow> rows;
    for (int i = 0; i < kMaxBatchIds; ++i) {
        BatchRow row;
        row.id = QStringLiteral("买家tb%1").arg(i, 6, 10, QLatin1Char('0'));
        BuyerCreditRecord &r = row.record;
        r.nick = QStringLiteral("张%1").arg(i);
        r.regTime = QStringLiteral("2008-06-%1 12:34:56").arg(1 + i % 28);
        r.address = QStringLiteral("浙江省 杭州市");
        r.verification = QStringLiteral("支付宝认证");
        r.goodRate = QStringLiteral("99.%1").arg(i % 10);
        r.goodCount = QString::number(100 + i);
        r.neutralCount = QString::number(i % 7);
        r.badCount = QString::number(i % 3);
        r.neutralGiven = QString::number(i % 5);
        r.badGiven = QString::number(i % 2);
        r.creditUrl = QStringLiteral("http://rate.example.com/user-rate-%1.htm?x=\"q\"").arg(i);
        rows.append(row);
    }
    return rows;
}

// The batch's whole export: 101 rows written and closed as an xlsx file.
void BM_WriteBatchSpreadsheet(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("batch.xlsx"));
    const QList<BatchRow> rows = fullBatch();
    QString error;
    for (auto _ : state) {
        if (!writeBatchSpreadsheet(path, rows, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            break;
        }
    }
}
BENCHMARK(BM_WriteBatchSpreadsheet)->Unit(benchmark::kMillisecond);

// Reading 101 ids from a file that holds many more.
void BM_ReadIdFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ids.txt"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < 10000; ++i)
        file.write("buyer" + QByteArray::number(i) + (i % 4 ? "," : "\r\n"));
    file.close();
    for (auto _ : state)
        benchmark::DoNotOptimize(readIdFile(path));
}
BENCHMARK(BM_ReadIdFile)->Unit(benchmark::kMicrosecond);

// The ids past the limit are counted, so the whole file is read: a 64 MiB list (about six
// million ids), as a seller might pick by mistake. Memory stays that of the 101 ids kept.
void BM_CountIdsPastTheLimit(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.txt"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block;
    for (int i = 0; block.size() < (1 << 20); ++i)
        block += "buyer" + QByteArray::number(i) + (i % 4 ? "," : "\r\n");
    for (int i = 0; i < 64; ++i)
        file.write(block);
    file.close();
    qint64 leftOut = 0;
    for (auto _ : state)
        leftOut = readIdFile(path).leftOut;
    state.counters["leftOut"] = double(leftOut);
    state.SetBytesProcessed(state.iterations() * 64 * block.size());
}
BENCHMARK(BM_CountIdsPastTheLimit)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
