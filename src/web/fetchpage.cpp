#include "fetchpage.h"

#include "codepage936.h"
#include "texthelpers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace {

FetchClock g_clock;
bool g_cancelled = false;
QList<QPointer<QEventLoop>> g_waits; // the waits in progress, innermost last

qint64 clockNow()
{
    return g_clock ? g_clock() : QDateTime::currentMSecsSinceEpoch();
}

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// The instant at which a wait started at `start` has run out: five whole seconds of the clock
// for the short wait, the next change of the clock's minute for the long one.
qint64 waitDeadline(qint64 start, int mode)
{
    const qint64 unit = mode == FetchShortWait ? 1000 : 60000;
    const qint64 units = mode == FetchShortWait ? 5 : 1;
    return (floorDiv(start, unit) + units) * unit;
}

// Errors that come with a complete HTTP response (4xx, 5xx): the body is still the page.
bool isStatusError(QNetworkReply::NetworkError e)
{
    return (e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError) ||
           (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError);
}

constexpr qint64 kClockPollMs = 100;

enum class Outcome { Finished, TimedOut, Cancelled };

// Sends one GET and waits for it in a nested event loop that the reply's end, the deadline
// timer or a cancellation wakes; the loop sleeps in between, so a silent server costs no CPU.
Outcome attempt(QNetworkAccessManager &nam, const QString &address, int mode, QByteArray &body)
{
    // Surrounding spaces are no part of an address; everything else goes out as given.
    QNetworkRequest request{QUrl(trimSpaces(address))};
    QNetworkReply *reply = nam.get(request);
    bool oversize = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        if (received > kMaxFetchBodyBytes && !oversize) {
            oversize = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxFetchBodyBytes && !oversize) {
            oversize = true;
            reply->abort();
        }
    });

    const qint64 deadline = waitDeadline(clockNow(), mode);
    g_waits.append(&loop);
    Outcome outcome = Outcome::Finished;
    while (!reply->isFinished()) {
        if (g_cancelled) {
            outcome = Outcome::Cancelled;
            break;
        }
        const qint64 left = deadline - clockNow();
        if (left <= 0) {
            outcome = Outcome::TimedOut;
            break;
        }
        // Re-read the clock at least every kClockPollMs, so a clock that jumps (a change of system
        // time, a test clock) is noticed; ten wake-ups a second cost nothing measurable.
        timer.start(int(qMin<qint64>(left, kClockPollMs)));
        loop.exec();
    }
    g_waits.removeAll(&loop);

    if (outcome == Outcome::Finished && !oversize &&
        (reply->error() == QNetworkReply::NoError || isStatusError(reply->error())))
        body = reply->readAll();
    if (!reply->isFinished())
        reply->abort();
    delete reply;
    return outcome;
}

// The HTTP client session, like a browser's: it keeps idle connections open for the next page
// of a query, which saves a connection set-up per page. Every call still makes its own
// request and shares nothing else with other calls. It lives as long as the application.
QNetworkAccessManager &accessManager()
{
    static QPointer<QNetworkAccessManager> nam;
    if (!nam)
        nam = new QNetworkAccessManager(QCoreApplication::instance());
    return *nam;
}

} // namespace

QString FetchPage(const QString &address, int mode)
{
    if (g_cancelled || isBlank(address) || !address.contains(QLatin1String("http://")))
        return {};

    QNetworkAccessManager &nam = accessManager();
    QByteArray body;
    Outcome outcome = attempt(nam, address, mode, body);
    if (outcome == Outcome::TimedOut)
        outcome = attempt(nam, address, mode, body);
    if (outcome != Outcome::Finished || body.isEmpty())
        return {};
    return decode936(body);
}

void setFetchClock(FetchClock clock)
{
    g_clock = std::move(clock);
}

void setFetchesCancelled(bool cancelled)
{
    g_cancelled = cancelled;
    if (cancelled) {
        for (const QPointer<QEventLoop> &loop : std::as_const(g_waits)) {
            if (loop)
                loop->quit();
        }
    }
}

bool fetchesCancelled()
{
    return g_cancelled;
}
