#pragma once

#include "web/networksettings.h"

#include <QHash>
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
//
// Every request goes the way the session's network settings say (directly or through a proxy);
// new settings apply from the next fetch on. The program's requests all go through sessions made
// with the service's settings: there is no other way to the network.
class HttpSession
{
public:
    explicit HttpSession(const NetworkSettings &network = NetworkSettings());
    ~HttpSession();
    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;

    // One GET of an absolute http(s) address, blocking the calling thread without running any
    // event loop. The attempt ends when the answer is complete, when the clock reaches
    // `deadline` (milliseconds of the fetch clock), or when `cancel` is set; the body is kept
    // in result->text's raw form (bytes) and the status, byte count and error are filled in;
    // *contentType (optional) gets the last answer's Content-Type header.
    // Refused: a redirect from a public host into the local network (see localnetwork.h),
    // not followed; the error says so. Through a proxy, that is decided by the address literal a
    // redirect names: a name is the proxy's to resolve, and the proxy itself may be local.
    // ProxyRefused: the proxy could not be reached (refused, unknown name); ProxyPassword: it
    // asked for a password (HTTP 407) we do not have or it did not take. Neither says anything
    // about the page's own host.
    enum class Attempt {
        Finished,
        TimedOut,
        Cancelled,
        TooLarge,
        Failed,
        Refused,
        ProxyRefused,
        ProxyPassword
    };
    Attempt get(const QByteArray &url, qint64 deadline, const CancelToken *cancel, QByteArray *body,
                int *status, QString *error, QByteArray *contentType = nullptr);

    void setNetwork(const NetworkSettings &network);
    NetworkSettings network() const;

private:
    struct Lane;
    Lane *borrow();
    void giveBack(Lane *lane);

    mutable std::mutex m_mutex;
    NetworkSettings m_network;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::vector<Lane *> m_idle;
};
