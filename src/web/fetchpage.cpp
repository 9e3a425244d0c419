#include "web/fetchpage.h"

#include "web/canceltoken.h"
#include "web/codepage936.h"
#include "web/fetchlimits.h"
#include "web/httpsession.h"
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

    HttpSession &session = context.session ? *context.session : HttpSession::forThisThread();
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
                              &result.status, &result.error);
        waitedOnHost += fetchClockNow() - now;
    }
    if (limits) {
        if (attempt == HttpSession::Attempt::TimedOut) {
            // A request the deadline cut short just after it began says little about the host;
            // one that had a few seconds does.
            if (result.attempts > 0 && (!cutByDeadline || waitedOnHost >= 2000))
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
    case HttpSession::Attempt::Finished:
        result.outcome = body.isEmpty() ? PageOutcome::Empty : PageOutcome::Ok;
        result.text = decode936(body);
        if (context.recorder)
            context.recorder->bodyReceived(result.address, body);
        break;
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
