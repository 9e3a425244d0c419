#include "web/requestpacer.h"

#include "web/canceltoken.h"
#include "web/fetchclock.h"
#include "web/pageresult.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

Q_LOGGING_CATEGORY(lcPace, "brelvon.pace", QtWarningMsg)

namespace {

// The windows a block is looked at through: what the host was asked for in the last second,
// seconds and minutes. A marketplace counts pages over windows of such lengths.
constexpr qint64 kWindowsMs[] = {1000,  2000,   5000,   10000,  20000,  30000,
                                 60000, 120000, 300000, 600000, 1800000};
constexpr qint64 kKeptPagesMs = 1800000; // the longest window
constexpr size_t kMostKeptPages = 100000;
// A block after a clean run is read through windows up to a minute.
constexpr qint64 kLongestRunWindowMs = 60000;
// A block after about as many clean pages as the last one, although they went slower, is a
// budget over a window longer than the run.
constexpr double kSameRun = 1.25;

// After a block: the ceiling is what the marketplace served within the window, less a page and a
// half for the jitter; the rate starts below it and never so fast that a few requests fall
// within a few milliseconds of each other.
constexpr double kJitterPages = 1.6;
constexpr double kBackOff = 0.9;
constexpr double kMostPagesPerSecond = 25;
// Clean stretches raise the rate by a step of the ceiling, up to it; a long clean run at the
// ceiling moves the ceiling itself up a little (the slow probe).
constexpr int kCleanStretch = 20;
constexpr double kStep = 0.05;
constexpr int kStretchesBeforeProbe = 50; // a thousand clean pages
constexpr double kProbe = 1.05;

constexpr qint64 kPollMs = 100;
// Pages sent this soon after the blocked one were served before it all the same.
constexpr qint64 kSentTogetherMs = 50;

QString hostOf(const QString &address)
{
    return QUrl(address).authority();
}

} // namespace

struct RequestPacer::Host
{
    HostPace pace;
    qint64 nextSlot = 0;
    std::deque<qint64> served; // clean pages' request starts, oldest first, of the longest window
    int cleanPages = 0;        // in a row since the rate last moved
    int stretchesAtCeiling = 0;
    qint64 lastRunPages = 0;   // clean pages before the last block that ended a clean run
    qint64 sentAt[2] = {0, 0}; // the last two requests' starts, the older first
    // The last block learnt from, read again when a clean page sent before it is told late (its
    // thread was slower than the blocked page's): the pace as it was before, and the windows.
    struct Lesson
    {
        bool open = false;
        qint64 blockedAt = 0;
        qint64 shortestWindowMs = 0;
        qint64 longestWindowMs = 0;
        HostPace before;
    } lesson;
};

RequestPacer::RequestPacer(int leastGapMs, int firstPauseSec, bool jitter)
    : m_leastGap(qMax(0, leastGapMs)),
      m_firstPauseMs(qint64(qBound(1, firstPauseSec, 3600)) * 1000), m_jitter(jitter)
{
}

RequestPacer::~RequestPacer() = default;

int RequestPacer::leastGapMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_leastGap;
}

void RequestPacer::setLeastGapMs(int gapMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_leastGap = qMax(0, gapMs);
}

void RequestPacer::setFirstPauseSec(int seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firstPauseMs = qint64(qBound(1, seconds, 3600)) * 1000;
}

void RequestPacer::pauseUntil(qint64 until)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (until > m_pausedUntil) {
        m_pausedUntil = until;
        ++m_pauseCount;
    }
}

qint64 RequestPacer::pausedUntil() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pausedUntil;
}

RequestPacer::Host &RequestPacer::hostLocked(const QString &host)
{
    std::shared_ptr<Host> &h = m_hosts[host];
    if (!h)
        h = std::make_shared<Host>();
    return *h;
}

qint64 RequestPacer::intervalLocked(const Host &host) const
{
    const double rate = host.pace.pagesPerSecond;
    const qint64 learnt = rate > 0 ? qint64(1000.0 / rate + 0.5) : 0;
    return qMax<qint64>(m_leastGap, learnt);
}

qint64 RequestPacer::takeSlot(const QString &host, qint64 now, bool holdInPause, quint64 *pauses)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Host &h = hostLocked(host);
    // Each request takes a slot of its own, one interval after the last one taken, so threads
    // that waited out a pause leave one at a time as well.
    const qint64 earliest = holdInPause ? qMax(now, m_pausedUntil) : now;
    const qint64 slot = qMax(earliest, h.nextSlot);
    const qint64 interval = intervalLocked(h);
    h.nextSlot = slot + interval;
    qint64 sendAt = slot;
    if (m_jitter && interval > 0) {
        // Around the slot, not added to it: the rate holds however the draws fall.
        const double shift = (QRandomGenerator::global()->generateDouble() - 0.5) * 0.6;
        sendAt = qMax(earliest, slot + qint64(shift * double(interval)));
    }
    if (pauses)
        *pauses = m_pauseCount;
    return sendAt;
}

bool RequestPacer::waitTurn(const QString &host, const CancelToken *cancel, qint64 *waitedMs,
                            bool holdInPause)
{
    const qint64 start = fetchClockNow();
    qint64 now = start;
    quint64 pauses = 0;
    qint64 sendAt = takeSlot(host, now, holdInPause, &pauses);
    for (;;) {
        // Sleeps in short slices, re-reading the clock and the cancellation.
        while (now < sendAt) {
            if (cancel && cancel->isCancelled())
                return false;
            std::this_thread::sleep_for(
                std::chrono::milliseconds(qMin<qint64>(sendAt - now, kPollMs)));
            now = fetchClockNow();
        }
        if (cancel && cancel->isCancelled())
            return false;
        std::unique_lock<std::mutex> lock(m_mutex);
        // A pause that began meanwhile is honoured: the slot is taken again after it.
        if (holdInPause && (pauses != m_pauseCount || now < m_pausedUntil)) {
            lock.unlock();
            sendAt = takeSlot(host, now, holdInPause, &pauses);
            continue;
        }
        // A thread that woke late (a busy machine) must not leave right beside the next one:
        // the requests actually sent keep the spacing the jitter allows.
        Host &h = hostLocked(host);
        const qint64 interval = intervalLocked(h);
        const qint64 gate =
            interval > 0 ? qMax(h.sentAt[1] + interval * 4 / 10, h.sentAt[0] + interval * 14 / 10)
                         : 0;
        if (now < gate) {
            sendAt = gate;
            continue;
        }
        h.sentAt[0] = h.sentAt[1];
        h.sentAt[1] = now;
        break;
    }
    if (waitedMs)
        *waitedMs = now - start;
    return true;
}

void RequestPacer::pruneLocked(Host &host, qint64 now)
{
    while (!host.served.empty() &&
           (host.served.front() <= now - kKeptPagesMs || host.served.size() > kMostKeptPages))
        host.served.pop_front();
}

void RequestPacer::learnLocked(Host &host, qint64 blockedAt, qint64 shortestWindowMs,
                               qint64 longestWindowMs)
{
    host.lesson = {true, blockedAt, shortestWindowMs, longestWindowMs, host.pace};
    // Any of the windows looked through may be the one the marketplace counts, so the ceiling
    // goes below what each of them served.
    double lowest = 0;
    for (const qint64 window : kWindowsMs) {
        if (window < shortestWindowMs || window > longestWindowMs)
            continue;
        const auto served = std::count_if(host.served.cbegin(), host.served.cend(), [&](qint64 t) {
            return t > blockedAt - window && t <= blockedAt + kSentTogetherMs;
        });
        if (served == 0)
            continue;
        const double pages = served >= 4 ? double(served) - kJitterPages : 0.5 * double(served);
        const double rate = pages * 1000.0 / double(window);
        if (lowest == 0 || rate < lowest)
            lowest = rate;
    }
    if (lowest <= 0)
        return;
    HostPace &pace = host.pace;
    pace.ceilingPagesPerSecond =
        qMin(kMostPagesPerSecond,
             pace.ceilingPagesPerSecond > 0 ? qMin(pace.ceilingPagesPerSecond, lowest) : lowest);
    pace.pagesPerSecond = kBackOff * pace.ceilingPagesPerSecond;
    pace.learntAtMs = fetchClockNow();
    host.cleanPages = 0;
    host.stretchesAtCeiling = 0;
    ++m_generation;
}

void RequestPacer::cleanPageLocked(Host &host)
{
    HostPace &pace = host.pace;
    if (!pace.isLearnt() || ++host.cleanPages < kCleanStretch)
        return;
    host.cleanPages = 0;
    if (pace.pagesPerSecond < pace.ceilingPagesPerSecond) {
        pace.pagesPerSecond = qMin(pace.ceilingPagesPerSecond,
                                   pace.pagesPerSecond + kStep * pace.ceilingPagesPerSecond);
        ++m_generation;
    } else if (++host.stretchesAtCeiling >= kStretchesBeforeProbe) {
        host.stretchesAtCeiling = 0;
        pace.ceilingPagesPerSecond = qMin(kMostPagesPerSecond, kProbe * pace.ceilingPagesPerSecond);
        ++m_generation;
    }
}

qint64 RequestPacer::pageRead(const PageResult &page)
{
    if (page.sentAtMs == 0)
        return 0; // no request went out: it says nothing about the marketplace
    qint64 pauseMs = 0;
    std::vector<std::shared_ptr<Listener>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Host &host = hostLocked(hostOf(page.address));
        // A page asked for before the last pause ended was answered by that pause already; one
        // served around the block counts toward what the block teaches.
        if (page.sentAtMs < m_pauseEnd) {
            if (page.outcome == PageOutcome::Ok) {
                host.served.push_back(page.sentAtMs);
                Host::Lesson &lesson = host.lesson;
                if (lesson.open && page.sentAtMs <= lesson.blockedAt + kSentTogetherMs) {
                    host.pace = lesson.before;
                    learnLocked(host, lesson.blockedAt, lesson.shortestWindowMs,
                                lesson.longestWindowMs);
                }
            }
            return 0;
        }
        if (page.outcome == PageOutcome::Ok)
            host.lesson.open = false;
        if (page.outcome != PageOutcome::Blocked) {
            if (page.outcome == PageOutcome::Ok) {
                m_blocksInRow = 0;
                m_blockedSince = 0;
                m_cleanSincePause = true;
                host.served.push_back(page.sentAtMs);
                pruneLocked(host, page.sentAtMs);
                cleanPageLocked(host);
            }
            return 0;
        }
        const qint64 now = fetchClockNow();
        if (m_blockedSince == 0)
            m_blockedSince = now;
        if (!m_cleanSincePause && m_pauseEnd > 0) {
            // Blocked again before any clean page: the marketplace's window outlasted the pause,
            // so it is longer than the pause; the rate is read through the longer windows.
            ++m_blocksInRow;
            learnLocked(host, page.sentAtMs, m_lastPauseMs + 1,
                        qMax<qint64>(kLongestRunWindowMs, 2 * m_lastPauseMs));
        } else {
            // A block that ends a clean run is read through the windows that lie within the run
            // (the shortest one that holds it, when it was shorter than that), unless the run
            // ended after about as many pages as the last one although they went slower: then
            // the window is longer than the run.
            m_blocksInRow = 1;
            const qint64 runStart =
                qMax(m_pauseEnd, host.served.empty() ? page.sentAtMs : host.served.front());
            const qint64 runMs = page.sentAtMs - runStart;
            const auto runPages = std::count_if(host.served.cbegin(), host.served.cend(),
                                                [&](qint64 t) { return t >= runStart; });
            qint64 within = kWindowsMs[0];  // the longest window within the run
            qint64 holding = kWindowsMs[0]; // the shortest window that holds it
            for (const qint64 window : kWindowsMs) {
                if (window <= runMs)
                    within = window;
                if (holding < runMs)
                    holding = window;
            }
            const bool sameRun =
                host.lastRunPages > 0 && double(runPages) <= kSameRun * double(host.lastRunPages);
            if (sameRun)
                learnLocked(host, page.sentAtMs, holding, qMax(holding, kLongestRunWindowMs));
            else
                learnLocked(host, page.sentAtMs, kWindowsMs[0], qMin(within, kLongestRunWindowMs));
            host.lastRunPages = runPages;
        }
        pauseMs = qMin(kLongestPauseMs, m_firstPauseMs << qMin(m_blocksInRow - 1, 20));
        m_lastPauseMs = pauseMs;
        m_pauseEnd = now + pauseMs;
        m_cleanSincePause = false;
        if (m_pauseEnd > m_pausedUntil)
            m_pausedUntil = m_pauseEnd;
        ++m_pauseCount;
        qCInfo(lcPace).noquote() << "blocked:" << page.error << "pause" << pauseMs << "ms, rate"
                                 << host.pace.pagesPerSecond << "pages/s, ceiling"
                                 << host.pace.ceilingPagesPerSecond;
        for (const auto &entry : m_listeners)
            listeners.push_back(entry.second);
    }
    for (const std::shared_ptr<Listener> &listener : listeners) {
        std::lock_guard<std::mutex> lock(listener->mutex);
        if (!listener->removed)
            listener->tell(int((pauseMs + 999) / 1000), page.error);
    }
    return pauseMs;
}

int RequestPacer::addPauseListener(std::function<void(int, const QString &)> listener)
{
    auto entry = std::make_shared<Listener>();
    entry->tell = std::move(listener);
    std::lock_guard<std::mutex> lock(m_mutex);
    const int key = m_nextListener++;
    m_listeners.emplace(key, std::move(entry));
    return key;
}

void RequestPacer::removePauseListener(int key)
{
    std::shared_ptr<Listener> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_listeners.find(key);
        if (it == m_listeners.end())
            return;
        entry = it->second;
        m_listeners.erase(it);
    }
    // Waits for a call under way to end.
    std::lock_guard<std::mutex> lock(entry->mutex);
    entry->removed = true;
}

HostPace RequestPacer::pace(const QString &host) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_hosts.constFind(host);
    return it == m_hosts.cend() ? HostPace{} : (*it)->pace;
}

QHash<QString, HostPace> RequestPacer::paces() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QHash<QString, HostPace> paces;
    for (auto it = m_hosts.cbegin(); it != m_hosts.cend(); ++it) {
        if ((*it)->pace.isLearnt())
            paces.insert(it.key(), (*it)->pace);
    }
    return paces;
}

void RequestPacer::setPaces(const QHash<QString, HostPace> &paces)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = paces.cbegin(); it != paces.cend(); ++it) {
        if (it->isLearnt() && it->pagesPerSecond > 0)
            hostLocked(it.key()).pace = *it;
    }
}

void RequestPacer::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hosts.clear();
    m_pausedUntil = 0;
    m_pauseEnd = 0;
    m_lastPauseMs = 0;
    m_cleanSincePause = true;
    m_blocksInRow = 0;
    m_blockedSince = 0;
    ++m_pauseCount;
    ++m_generation;
}

qint64 RequestPacer::blockedSince() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blockedSince;
}

quint64 RequestPacer::generation() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_generation;
}

double RequestPacer::pagesPerMinute() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    double slowest = 0;
    for (const std::shared_ptr<Host> &h : m_hosts) {
        const qint64 interval = intervalLocked(*h);
        if (interval <= 0)
            continue;
        const double perMinute = 60000.0 / double(interval);
        if (slowest == 0 || perMinute < slowest)
            slowest = perMinute;
    }
    return slowest;
}
