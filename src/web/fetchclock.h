#pragma once

#include <QtGlobal>

#include <functional>

// The clock the waits are measured against, in milliseconds since the epoch. An empty function
// restores the system clock. Tests shift it to put a minute boundary where they want one; set it
// while no fetch runs.
using FetchClock = std::function<qint64()>;
void setFetchClock(FetchClock clock);
qint64 fetchClockNow();
