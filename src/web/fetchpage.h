#pragma once

#include <QString>

#include <functional>

// Wait modes of FetchPage. Every mode other than the short wait is the long wait; callers pass
// FetchLongWait (1).
enum FetchWaitMode { FetchLongWait = 1, FetchShortWait = 2 };

// One HTTP GET of an absolute address, waited for on the calling (GUI) thread while window events
// keep being processed. The short wait ends once five whole seconds of the clock have passed since
// the start (4 to 5 s), the long wait at the first change of the clock's minute. A wait that runs
// out aborts the request and tries once more; at most two requests are sent. The body is decoded
// from code page 936 whatever the status code. Every failure (blank address or no "http://" in
// it, both attempts timed out, a broken connection, an empty body, a body over 16 MiB) gives "".
QString FetchPage(const QString &address, int mode);

// The clock the waits are measured against, in milliseconds since the epoch. An empty function
// restores the system clock. Tests shift it to put a minute boundary where they want one.
using FetchClock = std::function<qint64()>;
void setFetchClock(FetchClock clock);

// While set, every wait in progress ends at once and every later FetchPage returns "" without a
// request. The main window sets it when it closes so a running query winds down without waiting
// on the network.
void setFetchesCancelled(bool cancelled);
bool fetchesCancelled();

// Bodies larger than this are a failed fetch.
constexpr qint64 kMaxFetchBodyBytes = 16 * 1024 * 1024;
