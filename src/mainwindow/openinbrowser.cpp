#include "mainwindow/openinbrowser.h"

#include "web/texthelpers.h"

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
    // Only web addresses go to the desktop: "http://" anywhere in a file: or other address
    // (file:///usr/bin/xterm?http://y) must not make the desktop run or open a local thing.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return 0;
    // False when the desktop has no way to open it at all (no opener installed).
    return QDesktopServices::openUrl(url) ? 1 : 0;
}
