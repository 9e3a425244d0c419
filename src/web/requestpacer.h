#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

class CancelToken;
struct PageResult;

// What is learnt of one host's pace: the rate its pages are asked for now, the ceiling (just
// below the lowest rate that led to a block: clean stretches raise the rate back up to it, only a
// slow probe past it), and when it was learnt (the fetch clock). A rate of 0 is no limit.
struct HostPace
{
    double pagesPerSecond = 0;
    double ceilingPagesPerSecond = 0;
    qint64 learntAtMs = 0;

    bool isLearnt() const { return ceilingPagesPerSecond > 0; }
};

// The pace of the requests to each host, shared by every lookup and batch of a service. Requests
// to a host leave one at a time at the host's rate, each on a slot of its own (a jitter of ±30 %
// around the slot, never piling up), also when a pause ends. The rate is learnt from the
// marketplace's blocks: a blocked page sets it below the lowest rate the host was asked for over
// the last seconds and minutes and pauses every request, long enough for the marketplace's window
// to clear (doubling when the first page after a pause is blocked again); clean stretches raise
// it additively back toward the blocked rate, and only a slow probe goes past that. Times are the
// fetch clock's.
class RequestPacer
{
public:
    static constexpr qint64 kLongestPauseMs = 30 * 60 * 1000;

    explicit RequestPacer(int leastGapMs = 0, int firstPauseSec = 60, bool jitter = true);
    ~RequestPacer();
    RequestPacer(const RequestPacer &) = delete;
    RequestPacer &operator=(const RequestPacer &) = delete;

    // The least gap between two request starts to one host, whatever was learnt (the settings'
    // paceMs), and the first pause after a block (blockedPauseSec).
    int leastGapMs() const;
    void setLeastGapMs(int gapMs);
    void setFirstPauseSec(int seconds);

    // No request starts before the fetch clock reaches `until`.
    void pauseUntil(qint64 until);
    qint64 pausedUntil() const;
    // Waits for the host's next slot; false when cancelled meanwhile. *waitedMs: how long. Without
    // holdInPause a pause does not hold the request back (a seller's own lookup, not a batch's).
    bool waitTurn(const QString &host, const CancelToken *cancel, qint64 *waitedMs = nullptr,
                  bool holdInPause = true);

    // Takes the host's next slot at or after `now` and says when the request may leave (what
    // waitTurn waits for); *pauses: the pauses begun so far.
    qint64 takeSlot(const QString &host, qint64 now, bool holdInPause = true,
                    quint64 *pauses = nullptr);

    // A buyer page was read (blocked or not), from the fetching thread: the pace learns from it.
    // Returns the pause it began in milliseconds, 0 when none.
    qint64 pageRead(const PageResult &page);

    // Told when a pause begins: its length in whole seconds and why (the block marker or the HTTP
    // status); called on the fetching thread, outside the pacer's lock. Returns a key for
    // removePauseListener.
    int addPauseListener(std::function<void(int seconds, const QString &why)> listener);
    void removePauseListener(int key);

    // Since when (the fetch clock) every page read was blocked: the first block after the last
    // clean page; 0 while the last page read was clean.
    qint64 blockedSince() const;

    HostPace pace(const QString &host) const;
    QHash<QString, HostPace> paces() const;
    // Paces learnt before (kept from an earlier run): the hosts' rates start from them.
    void setPaces(const QHash<QString, HostPace> &paces);
    // Forgets every pace learnt, and any pause.
    void reset();
    // Counts every change of a learnt pace: whoever keeps the paces saves them when it moves.
    quint64 generation() const;

    // The rate the pages to every host go at now, in pages a minute (the slowest host's); 0 when
    // no host has a limit.
    double pagesPerMinute() const;

private:
    struct Host;
    Host &hostLocked(const QString &host);
    void learnLocked(Host &host, qint64 blockedAt, qint64 shortestWindowMs, qint64 longestWindowMs);
    void pruneLocked(Host &host, qint64 now);
    void cleanPageLocked(Host &host);
    qint64 intervalLocked(const Host &host) const;

    mutable std::mutex m_mutex;
    int m_leastGap;
    qint64 m_firstPauseMs;
    bool m_jitter;
    QHash<QString, std::shared_ptr<Host>> m_hosts;
    qint64 m_pausedUntil = 0;
    qint64 m_pauseEnd = 0;    // of the last pause
    qint64 m_lastPauseMs = 0; // its length
    quint64 m_pauseCount = 0; // reservations made before a pause are taken again after it
    bool m_cleanSincePause = true;
    int m_blocksInRow = 0;
    qint64 m_blockedSince = 0;
    quint64 m_generation = 0;
    // A listener is called outside the pacer's lock, under its own: once removed, it is neither
    // being called nor called again.
    struct Listener
    {
        std::mutex mutex;
        bool removed = false;
        std::function<void(int, const QString &)> tell;
    };
    std::map<int, std::shared_ptr<Listener>> m_listeners;
    int m_nextListener = 1;
};
