#include "web/fetchclock.h"

#include <QDateTime>

#include <memory>
#include <mutex>

namespace {

std::mutex g_clockMutex;
std::shared_ptr<const FetchClock> g_clock;

} // namespace

qint64 fetchClockNow()
{
    std::shared_ptr<const FetchClock> clock;
    {
        std::lock_guard<std::mutex> lock(g_clockMutex);
        clock = g_clock;
    }
    return clock && *clock ? (*clock)() : QDateTime::currentMSecsSinceEpoch();
}

void setFetchClock(FetchClock clock)
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_clock = clock ? std::make_shared<const FetchClock>(std::move(clock)) : nullptr;
}
