#include "openinbrowser.h"

#include "texthelpers.h"

#include <QDesktopServices>
#include <QUrl>

int OpenInBrowser(const QString &address)
{
    if (isBlank(address))
        return 0;
    const qsizetype at = address.indexOf(QLatin1String("http://"));
    if (at < 0)
        return 0;
    // Surrounding spaces are no part of an address. Text in front of "http://" would leave the
    // browser a scheme-less address it cannot open, so the address starts at the scheme then.
    QString text = trimSpaces(address);
    QUrl url(text, QUrl::TolerantMode);
    if (url.scheme().isEmpty())
        url = QUrl(address.mid(at).trimmed(), QUrl::TolerantMode);
    QDesktopServices::openUrl(url);
    return 1;
}
