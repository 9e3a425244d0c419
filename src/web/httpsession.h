#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class CancelToken;
struct PageResult;

// Limits every fetch keeps, whatever the server sends.
constexpr qint64 kMaxFetchBodyBytes = 16 * 1024 * 1024; // a larger body is a failed fetch
constexpr qint64 kMaxResponseHeadBytes = 64 * 1024;     // status line and headers, redirects too
constexpr long kMaxRedirects = 10;

// An HTTP client session, like a browser's: it keeps idle connections open so the next page of
// a query to the same host reuses them. Several threads may fetch through one session at once;
// each fetch borrows a connection set of its own and gives it back afterwards.
class HttpSession
{
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;

    // One GET of an absolute http(s) address, blocking the calling thread without running any
    // event loop. The attempt ends when the answer is complete, when the clock reaches
    // `deadline` (milliseconds of the fetch clock), or when `cancel` is set; the body is kept
    // in result->text's raw form (bytes) and the status, byte count and error are filled in.
    // Refused: a redirect from a public host into the local network (see localnetwork.h),
    // not followed; the error says so.
    enum class Attempt { Finished, TimedOut, Cancelled, TooLarge, Failed, Refused };
    Attempt get(const QByteArray &url, qint64 deadline, const CancelToken *cancel, QByteArray *body,
                int *status, QString *error);

    // The calling thread's own session, made on first use and ended with the thread.
    static HttpSession &forThisThread();

private:
    struct Lane;
    Lane *borrow();
    void giveBack(Lane *lane);

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::vector<Lane *> m_idle;
};
