// A batch of buyers that all need the embedded browser: 12 x night_owl (a rate page served only
// to browsers) against brelvon-site --delay 40 (every answer 40 ms late), at 1 and at 6 jobs. Each
// buyer in flight gets a hidden page of its own, so the 6-job batch takes a fraction of the
// 1-job one. The time of each run, its speed-up, and the hidden pages started.
//
//   build/bin/bench_browser_batch [BUYERS]

#include "browser/pagehandover.h"
#include "files/querysettings.h"
#include "lookup/lookuprunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>

#include <cstdio>

namespace {

struct Run
{
    double ms = 0;
    int read = 0; // buyers whose rate page the browser read
    int pages = 0;
};

Run runBatch(const QString &hostPort, int buyers, int jobs)
{
    LookupService service(demoSettings(hostPort), jobs);
    PageHandOver pages(jobs);
    service.setBrowser(&pages);
    LookupRunner runner(&service);
    BatchOptions options;
    options.jobs = jobs;
    Run run;
    QEventLoop loop; // Qt WebEngine wants a real event loop, not a polling one
    QElapsedTimer timer;
    timer.start();
    runner.batch(QStringList(buyers, QStringLiteral("night_owl")), options, {},
                 [&](const QList<LookupOutcome> &outcomes, bool) {
                     for (const LookupOutcome &outcome : outcomes)
                         run.read += outcome.result.record.verification.isEmpty() ? 0 : 1;
                     loop.quit();
                 });
    loop.exec();
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    run.pages = pages.pagesStarted();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int buyers = argc > 1 ? std::max(1, atoi(argv[1])) : 12;
    QProcess site;
    site.start(QCoreApplication::applicationDirPath() + "/brelvon-site", {"--delay", "40"});
    if (!site.waitForStarted(5000) || !site.waitForReadyRead(5000))
        return 1;
    const QString hostPort = QString::fromUtf8(site.readLine()).trimmed();
    runBatch(hostPort, 1, 1); // Qt WebEngine's own start-up, once, outside the figures
    const Run one = runBatch(hostPort, buyers, 1);
    const Run six = runBatch(hostPort, buyers, 6);
    site.kill();
    site.waitForFinished(5000);
    std::printf("%d x night_owl, every answer 40 ms late:\n", buyers);
    std::printf("  --jobs 1: %8.0f ms  (%d read by the browser, %d hidden page)\n", one.ms,
                one.read, one.pages);
    std::printf("  --jobs 6: %8.0f ms  (%d read by the browser, %d hidden pages)\n", six.ms,
                six.read, six.pages);
    std::printf("  speed-up: %.1fx\n", one.ms / six.ms);
    return one.read == buyers && six.read == buyers ? 0 : 1;
}
