#include "web/fetchpage.h"

#include "web/canceltoken.h"
#include "web/fetchlimits.h"
#include "web/httpsession.h"
#include "web/pagetext.h"
#include "web/requestpacer.h"
#include "web/texthelpers.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QUrl>

#include <memory>
#include <mutex>

Q_LOGGING_CATEGORY(lcWeb, "brelvon.web", QtWarningMsg)

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// The instant at which a wait started at `start` has run out: five whole seconds of the clock
// for the short wait, the next change of the clock's minute for the long one.
qint64 waitDeadline(qint64 start, FetchWait mode)
{
    const qint64 unit = mode == FetchWait::Short ? 1000 : 60000;
    const qint64 units = mode == FetchWait::Short ? 5 : 1;
    return (floorDiv(start, unit) + units) * unit;
}

// Whether an answer's status says the page was not served: anything but 2xx, except the
// throttle's 429 and 503, which the lookup tells apart as blocked pages.
bool isFailedStatus(int status)
{
    return status > 0 && (status < 200 || status >= 300) && status != 429 && status != 503;
}

PageResult refused(PageResult result, const QString &why)
{
    result.outcome = PageOutcome::Refused;
    result.error = why;
    return result;
}

} // namespace

QString fillAddress(const QString &addressTemplate, QLatin1String placeholder, const QString &value)
{
    if (addressTemplate.size() > kMaxAddressLength)
        return {};
    const qsizetype count = addressTemplate.count(placeholder);
    if (count == 0)
        return addressTemplate;
    const qint64 grows = qint64(value.size()) - placeholder.size();
    if (value.size() > kMaxAddressLength ||
        qint64(addressTemplate.size()) + count * grows > kMaxAddressLength)
        return {};
    return QString(addressTemplate).replace(placeholder, value);
}

namespace {

// A fetch, or its replay when the page is named and the context holds one.
PageResult fetch(const QString &page, const QString &address, FetchWait mode,
                 const FetchContext &context)
{
    PageResult result;
    result.page = page;
    result.address = trimSpaces(address);
    if (context.cancel && context.cancel->isCancelled()) {
        result.outcome = PageOutcome::Cancelled;
        return result;
    }
    if (isBlank(address))
        return refused(result, QStringLiteral("no address"));
    if (!address.contains(QLatin1String("http://")))
        return refused(result, QStringLiteral("not an http address"));
    if (result.address.size() > kMaxAddressLength) {
        result.address.truncate(200); // enough to recognise it in a log
        return refused(result, QStringLiteral("address longer than 8 KiB"));
    }
    // Surrounding spaces are no part of an address; everything else goes out as given, in the
    // form a browser would send it. The address must be a whole http address: text around it, or
    // another scheme with "http://" further on (file:///…?http://), is never requested.
    const QUrl url(result.address);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty())
        return refused(result, QStringLiteral("not an http address"));
    if (context.replay && !page.isEmpty()) {
        result = context.replay->replay(page, result.address);
        result.page = page;
        return result;
    }

    // Every request goes through a session of the program's network settings: a fetch without
    // one would bypass the proxy, so there is none.
    if (!context.session)
        return refused(result, QStringLiteral("no network session"));
    HttpSession &session = *context.session;
    const QString host = url.authority();
    FetchLimits *limits = context.limits;
    const SilentHosts::Turn turn = limits ? limits->turn(host) : SilentHosts::Turn::Ask;
    if (turn == SilentHosts::Turn::Skip) {
        result.outcome = PageOutcome::HostSilent;
        qCDebug(lcWeb).noquote() << result.summary();
        return result;
    }
    const bool probe = turn == SilentHosts::Turn::Probe;
    QElapsedTimer elapsed;
    elapsed.start();
    QByteArray body;
    QByteArray contentType;
    HttpSession::Attempt attempt = HttpSession::Attempt::TimedOut;
    qint64 waitedOnHost = 0; // clock time spent on requests, pacing left out
    bool cutByDeadline = false;
    // A probe of a silent host is one short request.
    const int tries = probe ? 1 : 2;
    const FetchWait waitMode = probe ? FetchWait::Short : mode;
    for (int i = 0; i < tries && attempt == HttpSession::Attempt::TimedOut; ++i) {
        qint64 paced = 0;
        if (context.pacer &&
            !context.pacer->waitTurn(host, context.cancel, &paced, context.pacerPauses)) {
            attempt = HttpSession::Attempt::Cancelled;
            break;
        }
        if (limits)
            limits->extend(paced);
        const qint64 now = fetchClockNow();
        qint64 end = waitDeadline(now, waitMode);
        if (limits && limits->deadline() > 0) {
            if (now >= limits->deadline()) {
                cutByDeadline = true;
                break;
            }
            if (limits->deadline() < end) {
                end = limits->deadline();
                cutByDeadline = true;
            } else {
                cutByDeadline = false;
            }
        }
        if (result.sentAtMs == 0)
            result.sentAtMs = now;
        ++result.attempts;
        attempt = session.get(url.toEncoded(QUrl::RemoveFragment), end, context.cancel, &body,
                              &result.status, &result.error, &contentType);
        waitedOnHost += fetchClockNow() - now;
    }
    if (limits) {
        if (attempt == HttpSession::Attempt::TimedOut) {
            // A request the deadline cut short just after it began says little about the host;
            // one that had a few seconds does. A short wait that ran out is one slow address
            // (a download past its few seconds), not a silent host, unless it probed one.
            const bool longEnough = mode == FetchWait::Long || probe;
            if (result.attempts > 0 && longEnough && (!cutByDeadline || waitedOnHost >= 2000))
                limits->timedOut(host, turn);
            else
                limits->abandoned(host, turn); // not tried after all: the next lookup probes
        } else if (attempt != HttpSession::Attempt::Cancelled) {
            limits->answered(host, turn);
        } else {
            limits->abandoned(host, turn);
        }
    }
    result.elapsedMs = elapsed.elapsed();
    result.bytes = body.size();

    switch (attempt) {
    case HttpSession::Attempt::Finished: {
        if (isFailedStatus(result.status)) {
            // An error page says nothing about what was asked for.
            result.outcome = PageOutcome::HttpError;
            break;
        }
        result.outcome = body.isEmpty() ? PageOutcome::Empty : PageOutcome::Ok;
        PageText decoded = decodePageBody(body, contentType);
        result.text = std::move(decoded.text);
        result.encoding = decoded.encoding;
        result.undecodable = decoded.undecodable;
        if (context.recorder)
            context.recorder->bodyReceived(result.address, body, contentType);
        break;
    }
    case HttpSession::Attempt::TimedOut:
        result.outcome = PageOutcome::Timeout;
        break;
    case HttpSession::Attempt::Cancelled:
        result.outcome = PageOutcome::Cancelled;
        break;
    case HttpSession::Attempt::TooLarge:
        result.outcome = PageOutcome::TooLarge;
        break;
    case HttpSession::Attempt::Failed:
        result.outcome = PageOutcome::NetworkError;
        break;
    case HttpSession::Attempt::Refused:
        result.outcome = PageOutcome::Refused;
        break;
    case HttpSession::Attempt::ProxyRefused:
        result.outcome = PageOutcome::ProxyRefused;
        break;
    case HttpSession::Attempt::ProxyPassword:
        result.outcome = PageOutcome::ProxyPassword;
        break;
    }
    qCDebug(lcWeb).noquote() << result.summary();
    return result;
}

} // namespace

PageResult fetchPageResult(const QString &address, FetchWait mode, const FetchContext &context)
{
    return fetch(QString(), address, mode, context);
}

PageResult fetchNamedPage(const QString &page, const QString &address, FetchWait mode,
                          const FetchContext &context)
{
    return fetch(page, address, mode, context);
}

QString FetchPage(const QString &address, FetchWait mode, const FetchContext &context)
{
    return fetchPageResult(address, mode, context).text;
}
