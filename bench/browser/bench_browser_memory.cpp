// What the embedded browser adds to the peak memory of a query, and that it adds nothing when no
// query needs it. Memory is the whole process tree's (the program and the browser's own
// processes), sampled every 10 ms from /proc/PID/smaps_rollup and summed over the tree: PSS
// (shared pages split between the processes that map them), RSS (every process's resident
// pages, shared ones counted in each) and USS (its private pages only, Private_Clean +
// Private_Dirty). PSS alone wanders from run to run: it shrinks when other programs on the
// machine happen to map the same libraries. USS is what the tree itself costs, RSS the most it
// could, whatever else runs.
//
//   build/bin/bench_browser_memory [RUNS]
//
// 1. brelvon-cli query --demo, with and without --browser, for a buyer whose rate page only a
//    browser is served (night_owl) and one whose page the plain fetch reads (xiaoyu_2008): each
//    a fresh process, RUNS times (default 5), the median of the peaks (of each measure on its
//    own).
// 2. The window (offscreen unless a display is set) against the demo site: its memory before
//    any query, the peak of a query that does not need the browser, the peak of the first query
//    that does (the browser starts), of a second one, and the memory once they are done.

#include "demosite/demosite.h"
#include "mainwindow/mainwindow.h"
#include "windowonsession.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

struct Memory
{
    qint64 pssKiB = 0;
    qint64 rssKiB = 0;
    qint64 ussKiB = 0;
    int processes = 0;
};

// The root and every process below it.
QList<qint64> processTree(qint64 root)
{
    QHash<qint64, QList<qint64>> children;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read after its ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children[fields.at(1).toLongLong()].append(pid);
    }
    QList<qint64> tree{root};
    for (int i = 0; i < tree.size(); ++i)
        tree += children.value(tree.at(i));
    return tree;
}

Memory treeMemory(qint64 root)
{
    Memory m;
    for (const qint64 pid : processTree(root)) {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!rollup.open(QIODevice::ReadOnly))
            continue;
        ++m.processes;
        for (const QByteArray &line : rollup.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 2 && f.at(0) == "Rss:")
                m.rssKiB += f.at(1).toLongLong();
            else if (f.size() >= 2 && f.at(0) == "Pss:")
                m.pssKiB += f.at(1).toLongLong();
            else if (f.size() >= 2 && (f.at(0) == "Private_Clean:" || f.at(0) == "Private_Dirty:"))
                m.ussKiB += f.at(1).toLongLong();
        }
    }
    return m;
}

// Samples a process tree on a thread of its own and keeps the peaks.
class PeakSampler
{
public:
    explicit PeakSampler(qint64 root)
        : m_thread([this, root] {
              while (!m_stop) {
                  const Memory now = treeMemory(root);
                  m_pss = std::max(m_pss.load(), now.pssKiB);
                  m_rss = std::max(m_rss.load(), now.rssKiB);
                  m_uss = std::max(m_uss.load(), now.ussKiB);
                  m_processes = std::max(m_processes.load(), now.processes);
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
    {
    }
    ~PeakSampler() { stop(); }
    Memory stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return {m_pss, m_rss, m_uss, m_processes};
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_pss{0}, m_rss{0}, m_uss{0};
    std::atomic<int> m_processes{0};
    std::thread m_thread;
};

double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

// Whether Qt WebEngine's library is mapped into this process at all.
bool webEngineMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

void printRow(const char *what, const Memory &m, const char *note = "")
{
    std::printf("  %-44s PSS %7.1f MiB  RSS %7.1f MiB  USS %7.1f MiB  processes %d%s\n", what,
                mib(m.pssKiB), mib(m.rssKiB), mib(m.ussKiB), m.processes, note);
    std::fflush(stdout);
}

const char *mappedNote()
{
    return webEngineMapped() ? "  (Qt WebEngine mapped)" : "  (Qt WebEngine not mapped)";
}

Memory cliPeak(const QStringList &args, int runs)
{
    QList<Memory> peaks;
    for (int i = 0; i < runs; ++i) {
        QProcess cli;
        cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cli.start(QCoreApplication::applicationDirPath() + "/brelvon-cli", args);
        if (!cli.waitForStarted())
            return {};
        PeakSampler sampler(cli.processId());
        cli.waitForFinished(180000);
        peaks.append(sampler.stop());
        cli.readAllStandardOutput();
    }
    const auto median = [&](auto field) {
        QList<qint64> values;
        for (const Memory &m : std::as_const(peaks))
            values.append(m.*field);
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    };
    return {median(&Memory::pssKiB), median(&Memory::rssKiB), median(&Memory::ussKiB),
            int(median(&Memory::processes))};
}

Memory windowQueryPeak(MainWindow &window, const QString &id)
{
    PeakSampler sampler(getpid());
    window.findChild<QLineEdit *>("Text2")->setText(id);
    QTest::mouseClick(window.findChild<QPushButton *>("Command7"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !window.queryRunning(); }, 180000))
        std::fprintf(stderr, "the query of %s never came back\n", qPrintable(id));
    return sampler.stop();
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    std::printf("brelvon-cli query --demo (peak of the process tree, median of %d runs):\n", runs);
    printRow("night_owl", cliPeak({"query", "--demo", "night_owl"}, runs));
    printRow("night_owl --browser (browser used)",
             cliPeak({"query", "--demo", "--browser", "night_owl"}, runs));
    printRow("xiaoyu_2008", cliPeak({"query", "--demo", "xiaoyu_2008"}, runs));
    printRow("xiaoyu_2008 --browser (browser not needed)",
             cliPeak({"query", "--demo", "--browser", "xiaoyu_2008"}, runs));

    std::printf("brelvon window with the demo site (this process and its children):\n");
    DemoSite site;
    if (!site.start())
        return 1;
    const std::unique_ptr<MainWindow> owned = windowOn(demoSettings(site.hostPort()));
    MainWindow &window = *owned;
    window.show();
    QTest::qWait(500);
    windowQueryPeak(window, "tom.wang"); // the configuration and area table, once
    QTest::qWait(500);
    printRow("before (after one query)", treeMemory(getpid()), mappedNote());
    const Memory unneeded = windowQueryPeak(window, "xiaoyu_2008");
    printRow("query xiaoyu_2008, peak (no browser)", unneeded, mappedNote());
    const Memory first = windowQueryPeak(window, "night_owl");
    printRow("query night_owl, peak (browser starts)", first, mappedNote());
    printRow("query night_owl again, peak", windowQueryPeak(window, "night_owl"));
    QTest::qWait(1000);
    printRow("after", treeMemory(getpid()));
    return 0;
}
