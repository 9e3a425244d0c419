#include "web/pageresult.h"

QString PageResult::outcomeName() const
{
    switch (outcome) {
    case PageOutcome::Ok:
        return QStringLiteral("ok");
    case PageOutcome::Empty:
        return QStringLiteral("empty");
    case PageOutcome::Timeout:
        return QStringLiteral("timeout");
    case PageOutcome::NetworkError:
        return QStringLiteral("network error");
    case PageOutcome::TooLarge:
        return QStringLiteral("too large");
    case PageOutcome::Cancelled:
        return QStringLiteral("cancelled");
    case PageOutcome::Refused:
        return QStringLiteral("refused");
    case PageOutcome::Blocked:
        return QStringLiteral("blocked");
    case PageOutcome::HostSilent:
        return QStringLiteral("host silent");
    case PageOutcome::ProxyRefused:
        return QStringLiteral("proxy refused");
    case PageOutcome::ProxyPassword:
        return QStringLiteral("proxy password");
    case PageOutcome::HttpError:
        return QStringLiteral("http error");
    }
    return {};
}

QString PageResult::outcomeText() const
{
    switch (outcome) {
    case PageOutcome::NetworkError:
    case PageOutcome::Refused:
    case PageOutcome::Blocked:
    case PageOutcome::ProxyRefused:
        return outcomeName() + QLatin1String(": ") + error;
    case PageOutcome::HttpError:
        return QStringLiteral("HTTP %1").arg(status);
    default:
        return outcomeName();
    }
}

QString PageResult::summary() const
{
    QString line = QStringLiteral("%1 status=%2 bytes=%3 ms=%4 %5")
                       .arg(browser ? QLatin1String("browser ") + outcomeText() : outcomeText())
                       .arg(status)
                       .arg(bytes)
                       .arg(elapsedMs)
                       .arg(address);
    return line + encodingText();
}

QString PageResult::encodingText() const
{
    if (encoding.isEmpty())
        return {};
    QString text = QLatin1String(" charset=") + encoding;
    if (undecodable > 0)
        text += QStringLiteral(" undecodable=%1").arg(undecodable);
    return text;
}

bool pageOutcomeFromName(const QString &name, PageOutcome *outcome)
{
    for (PageOutcome o :
         {PageOutcome::Ok, PageOutcome::Empty, PageOutcome::Timeout, PageOutcome::NetworkError,
          PageOutcome::TooLarge, PageOutcome::Cancelled, PageOutcome::Refused, PageOutcome::Blocked,
          PageOutcome::HostSilent, PageOutcome::ProxyRefused, PageOutcome::ProxyPassword,
          PageOutcome::HttpError}) {
        PageResult page;
        page.outcome = o;
        if (page.outcomeName() == name) {
            *outcome = o;
            return true;
        }
    }
    return false;
}
