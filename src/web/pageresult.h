#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// How one page fetch ended.
enum class PageOutcome {
    Ok,            // a body arrived
    Empty,         // the answer had no body
    Timeout,       // both attempts ran out of their wait
    NetworkError,  // the connection failed or broke; the error says how
    TooLarge,      // the body passed the size limit (or the response head its own)
    Cancelled,     // the job was cancelled before or during the fetch
    Refused,       // not an address the program fetches (no request was sent)
    Blocked,       // a body arrived, but it is the site's login, check or access-denied page
    HostSilent,    // not requested: its host timed out earlier in the lookup (or is being probed)
    ProxyRefused,  // the proxy could not be reached: nothing is known of the page's host
    ProxyPassword, // the proxy asked for a password (HTTP 407) it was not given
    HttpError,     // the answer's status was no success (404, 500, a redirect not followed …);
                   // 429 and 503 are the marketplace's throttle and end as Blocked instead
};

// What one page fetch did, for diagnostics: FetchPage itself returns only the text.
struct PageResult
{
    QString page;         // which page this was, as its caller names it ("search", "detail" …)
    QString address;      // as given (trimmed)
    int status = 0;       // HTTP status of the last answer, 0 without one
    qint64 bytes = 0;     // body bytes received (decoded from transfer encodings)
    qint64 elapsedMs = 0; // from the first request to the end, both attempts
    int attempts = 0;     // requests sent: 0, 1, or 2 after a time-out
    qint64 sentAtMs = 0;  // the fetch clock when the first request went out; 0 without one
    PageOutcome outcome = PageOutcome::Refused;
    QString error;    // the network error's own words, why an address was refused, or the block
                      // marker found
    QString text;     // the body decoded (see encoding); empty unless the outcome is Ok
    QString encoding; // what the body was decoded as: "utf-8", "gb18030", "gbk"; "" unread
    qint64 undecodable = 0; // byte sequences of the body that were no character in it
    bool browser = false;   // read by the embedded browser (bytes: its text in UTF-8), not fetched

    // "ok", "empty", "timeout", "network error", "too large", "cancelled", "refused", "blocked",
    // "host silent", "proxy refused", "proxy password", "http error".
    QString outcomeName() const;
    // outcomeName() with the details: "network error: …", "refused: …", "blocked: …",
    // "proxy refused: …"; an HTTP error is its status: "HTTP 404".
    QString outcomeText() const;
    // One line for logs and --verbose: outcome (after "browser" for a page the embedded browser
    // read), status, bytes, time, address; then the encoding of a decoded body and how many of
    // its bytes were undecodable, when some were.
    QString summary() const;
    // " charset=utf-8", with " undecodable=N" when some bytes were; "" for a body not decoded.
    QString encodingText() const;
};

using PageResults = QList<PageResult>;

// The outcome outcomeName() names; false for any other text.
bool pageOutcomeFromName(const QString &name, PageOutcome *outcome);

Q_DECLARE_METATYPE(PageResult)
