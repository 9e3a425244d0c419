#pragma once

#include <QSet>
#include <QString>

#include <atomic>
#include <mutex>

// The hosts a batch found silent (they accepted a request and never answered), shared by its
// lookups. While a host is silent one lookup at a time probes it with one short request; the
// others do not ask it at all. An answer makes it an ordinary host again.
class SilentHosts
{
public:
    enum class Turn { Ask, Probe, Skip };
    Turn turn(const QString &host);
    // How a request to the host ended: answered (anything but a time-out) or timed out.
    void answered(const QString &host, bool probe);
    void timedOut(const QString &host, bool probe);
    // A probe that never got to ask (cancelled, or out of time): the next lookup probes.
    void release(const QString &host);
    bool isSilent(const QString &host) const;

private:
    mutable std::mutex m_mutex;
    QSet<QString> m_silent;
    QSet<QString> m_probing;
};

// What bounds one lookup's fetches: its deadline on the fetch clock, and the hosts that timed
// out in it, which it does not wait on again. Shared by the lookup's page chains; the batch's
// SilentHosts (optional) carries what one lookup learnt to the others.
class FetchLimits
{
public:
    // deadlineMs: the fetch clock's time by which the lookup ends (0: none).
    explicit FetchLimits(qint64 deadlineMs = 0, SilentHosts *batch = nullptr)
        : m_deadline(deadlineMs), m_batch(batch)
    {
    }
    qint64 deadline() const { return m_deadline.load(); }
    // Time the lookup spent waiting on our own pacing is not the hosts' doing: it moves the
    // deadline on.
    void extend(qint64 ms);

    SilentHosts::Turn turn(const QString &host);
    void answered(const QString &host, SilentHosts::Turn turn);
    // A host that answered another request of the lookup is not silent, only slow there.
    void timedOut(const QString &host, SilentHosts::Turn turn);
    // The request was not made or was cancelled: nothing learnt about the host.
    void abandoned(const QString &host, SilentHosts::Turn turn);

private:
    std::atomic<qint64> m_deadline;
    SilentHosts *m_batch;
    std::mutex m_mutex;
    QSet<QString> m_silent;   // timed out in this lookup
    QSet<QString> m_answered; // answered in this lookup: one slow address does not silence them
};
