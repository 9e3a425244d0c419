#include "web/fetchlimits.h"

SilentHosts::Turn SilentHosts::turn(const QString &host)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_silent.contains(host))
        return Turn::Ask;
    if (m_probing.contains(host))
        return Turn::Skip;
    m_probing.insert(host);
    return Turn::Probe;
}

void SilentHosts::answered(const QString &host, bool probe)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent.remove(host);
    if (probe)
        m_probing.remove(host);
}

void SilentHosts::timedOut(const QString &host, bool probe)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent.insert(host);
    if (probe)
        m_probing.remove(host);
}

void SilentHosts::release(const QString &host)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_probing.remove(host);
}

bool SilentHosts::isSilent(const QString &host) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_silent.contains(host);
}

void FetchLimits::extend(qint64 ms)
{
    if (ms > 0 && m_deadline.load() > 0)
        m_deadline.fetch_add(ms);
}

SilentHosts::Turn FetchLimits::turn(const QString &host)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_silent.contains(host))
            return SilentHosts::Turn::Skip;
    }
    return m_batch ? m_batch->turn(host) : SilentHosts::Turn::Ask;
}

void FetchLimits::answered(const QString &host, SilentHosts::Turn turn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answered.insert(host);
    }
    if (m_batch && (turn == SilentHosts::Turn::Probe || m_batch->isSilent(host)))
        m_batch->answered(host, turn == SilentHosts::Turn::Probe);
}

void FetchLimits::timedOut(const QString &host, SilentHosts::Turn turn)
{
    bool answeredBefore = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answeredBefore = m_answered.contains(host);
        if (!answeredBefore)
            m_silent.insert(host);
    }
    if (answeredBefore) {
        abandoned(host, turn);
        return;
    }
    if (m_batch)
        m_batch->timedOut(host, turn == SilentHosts::Turn::Probe);
}

void FetchLimits::abandoned(const QString &host, SilentHosts::Turn turn)
{
    if (m_batch && turn == SilentHosts::Turn::Probe)
        m_batch->release(host);
}
