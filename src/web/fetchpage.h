#pragma once

#include "web/fetchclock.h"
#include "web/pageresult.h"

#include <QString>

#include <functional>

class CancelToken;
class FetchLimits;
class HttpSession;
class RequestPacer;

// Told the body of every fetch that got a page (not an HTTP error), as the bytes arrived (before
// decoding), with the address as requested and the answer's Content-Type: a capture keeps what a
// lookup read. Called from the fetching thread; several fetches may tell it at once.
class FetchRecorder
{
public:
    virtual ~FetchRecorder() = default;
    virtual void bodyReceived(const QString &address, const QByteArray &body,
                              const QByteArray &contentType) = 0;
};

// Answers a buyer's page fetches in place of the network: a check of a configuration replays what
// a capture read through the lookup's own code, so a check and a lookup cannot disagree. Asked by
// fetchNamedPage, with the page's name as the lookup gives it ("search", "detail" …), only for an
// address a request would be sent to (a refused address stays refused). Called from the fetching
// thread; several fetches may ask at once.
class FetchReplay
{
public:
    virtual ~FetchReplay() = default;
    virtual PageResult replay(const QString &page, const QString &address) = 0;
};

// How long FetchPage waits for a page: the long wait (up to a clock minute) or the short one
// (five seconds).
enum class FetchWait { Long, Short };

// Where a fetch runs: the session whose connections and network settings it uses (without one
// nothing is requested), the job's cancellation, the pacing shared by a batch's workers, who is
// told which page is being fetched (a front end's "waiting for …"; called on the fetching
// thread), and the lookup's limits (its deadline, the hosts found silent). All but the session
// optional.
struct FetchContext
{
    HttpSession *session = nullptr;
    const CancelToken *cancel = nullptr;
    RequestPacer *pacer = nullptr;
    bool pacerPauses =
        true; // false: the pacer's slots are kept, its pauses not (a seller's own lookup)
    FetchLimits *limits = nullptr;
    FetchRecorder *recorder = nullptr; // set: told every body received
    FetchReplay *replay = nullptr;     // set: named pages come from it; no request is sent
    const std::function<void(const QString &page)> *pageStarted = nullptr;
};

// The longest address requested, in characters: a longer one is refused without a request.
constexpr qsizetype kMaxAddressLength = 8 * 1024;

// The address template with every placeholder replaced by the value, or "" when the address
// would be longer than kMaxAddressLength (known before anything is built, so a template of a
// million placeholders costs no memory).
QString fillAddress(const QString &addressTemplate, QLatin1String placeholder,
                    const QString &value);

// One HTTP GET of an absolute address, waited for on the calling thread (a worker: the window's
// thread never fetches). The short wait ends once five whole seconds of the clock have passed
// since the start (4 to 5 s), the long wait at the first change of the clock's minute. A wait
// that runs out tears the request down and tries once more; at most two requests are sent. The
// body of a 2xx answer is decoded as the answer says (decodePageBody: its charset, else code page
// 936); any other status but 429 and 503 is an HTTP error with no text. Only an address that
// contains "http://", parses as an http address and is at most kMaxAddressLength long is requested
// (redirects may lead to http or https, at most ten). Bodies are capped at 16 MiB and response
// heads at 64 KiB, whatever the framing.
//
// With limits: no attempt waits past the lookup's deadline, and none starts after it (the page
// ends as a time-out); a host that timed out in the lookup is not asked again (HostSilent), and a
// host the batch found silent is probed by one short request of one lookup at a time.
PageResult fetchPageResult(const QString &address, FetchWait mode,
                           const FetchContext &context = {});

// fetchPageResult of one of a buyer's pages, named as the lookup names it (PageResult::page is
// set): with a replay in the context, the replay answers instead of the network.
PageResult fetchNamedPage(const QString &page, const QString &address, FetchWait mode,
                          const FetchContext &context = {});

// The page text of fetchPage: "" on every failure (refused address, both attempts timed out, a
// broken connection, an empty or oversized body, a cancelled job).
QString FetchPage(const QString &address, FetchWait mode, const FetchContext &context = {});
