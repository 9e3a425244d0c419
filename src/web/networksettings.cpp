#include "web/networksettings.h"

#include "web/addresstext.h"

#include <QRegularExpression>
#include <QUrl>

#include <cstring>

namespace {

// This machine, reached directly whatever the proxy: the demo site lives here, and a proxy
// elsewhere could not reach it anyway.
const char *const kAlwaysDirect[] = {"localhost", "127.0.0.0/8", "::1"};

QString withoutBrackets(QString host)
{
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    return host.toLower();
}

// An IPv4 or IPv6 literal as 16 bytes (IPv4 in the first four) and its width in bits; 0 for a
// name.
int addressBits(const QString &text, unsigned char *bytes)
{
    const QByteArray latin = text.toLatin1();
    std::memset(bytes, 0, 16);
    if (parseIPv4Address(latin.constData(), bytes))
        return 32;
    return parseIPv6Address(latin.constData(), bytes) ? 128 : 0;
}

// "10.0.0.0/8" or "fd00::/8" holding the host's address literal.
bool inRange(const QString &host, const QString &range)
{
    const qsizetype slash = range.indexOf(u'/');
    bool ok = false;
    const int prefix = range.mid(slash + 1).toInt(&ok);
    unsigned char net[16];
    unsigned char address[16];
    const int width = addressBits(range.left(slash), net);
    if (!ok || width == 0 || prefix < 0 || prefix > width || addressBits(host, address) != width)
        return false;
    for (int bit = 0; bit < prefix; ++bit) {
        const unsigned char mask = 0x80 >> (bit % 8);
        if ((net[bit / 8] & mask) != (address[bit / 8] & mask))
            return false;
    }
    return true;
}

// A proxy address in libcurl's form, or "" when the text is not one. Without a scheme (only as
// the environment's variables are often written) it is an HTTP proxy.
QByteArray proxyAddress(QString text, bool schemeOptional)
{
    text = text.trimmed();
    if (schemeOptional && !text.contains(QLatin1String("://")))
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    QString curlScheme;
    if (scheme == QLatin1String("http"))
        curlScheme = QStringLiteral("http");
    else if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h"))
        curlScheme = QStringLiteral("socks5h"); // the proxy resolves the names, never we
    if (!url.isValid() || curlScheme.isEmpty() || url.host().isEmpty() || url.port() <= 0 ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment())
        return {};
    QUrl proxy;
    proxy.setScheme(curlScheme);
    proxy.setUserInfo(url.userInfo(QUrl::FullyEncoded), QUrl::StrictMode);
    proxy.setHost(url.host());
    proxy.setPort(url.port());
    return proxy.toEncoded();
}

QByteArray environment(const char *lower, const char *upper)
{
    const QByteArray value = qgetenv(lower);
    return value.isEmpty() ? qgetenv(upper) : value;
}

// "http://host:port" as Chromium takes it: no credentials (it asks for them itself).
QString browserProxy(const QByteArray &curlProxy)
{
    QUrl url(QString::fromLatin1(curlProxy));
    if (url.scheme() == QLatin1String("socks5h"))
        url.setScheme(QStringLiteral("socks5")); // Chromium's socks5 resolves on the proxy
    url.setUserInfo(QString());
    return url.toString(QUrl::FullyEncoded);
}

} // namespace

bool NetworkSettings::fromProxyText(const QString &text, NetworkSettings *settings,
                                    QString *badVariable)
{
    NetworkSettings s;
    s.m_text = text.trimmed();
    if (badVariable)
        badVariable->clear();
    if (s.m_text.isEmpty()) {
        *settings = s;
        return true;
    }
    if (s.m_text.compare(QLatin1String("system"), Qt::CaseInsensitive) == 0) {
        s.m_proxy = Proxy::System;
        const struct
        {
            const char *lower;
            const char *upper;
            QByteArray *proxy;
        } variables[] = {{"http_proxy", "HTTP_PROXY", &s.m_httpProxy},
                         {"https_proxy", "HTTPS_PROXY", &s.m_httpsProxy}};
        for (const auto &variable : variables) {
            const QByteArray value = environment(variable.lower, variable.upper);
            if (value.trimmed().isEmpty())
                continue;
            *variable.proxy = proxyAddress(QString::fromLocal8Bit(value), true);
            if (variable.proxy->isEmpty()) {
                if (badVariable)
                    *badVariable =
                        QLatin1String(qEnvironmentVariableIsEmpty(variable.lower) ? variable.upper
                                                                                  : variable.lower);
                return false;
            }
        }
        const QString noProxy = QString::fromLocal8Bit(environment("no_proxy", "NO_PROXY"));
        for (QString entry :
             noProxy.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
            entry = withoutBrackets(entry);
            if (entry.startsWith(u'.'))
                entry.remove(0, 1);
            if (!entry.isEmpty())
                s.m_bypass.append(entry);
        }
    } else {
        s.m_proxy = Proxy::Named;
        s.m_httpProxy = proxyAddress(s.m_text, false);
        if (s.m_httpProxy.isEmpty())
            return false;
        s.m_httpsProxy = s.m_httpProxy;
    }
    *settings = s;
    return true;
}

QByteArray NetworkSettings::proxyFor(const QUrl &url) const
{
    return bypasses(url.host()) ? QByteArray() : proxyForScheme(url.scheme());
}

QByteArray NetworkSettings::proxyForScheme(const QString &scheme) const
{
    return scheme == QLatin1String("https") ? m_httpsProxy : m_httpProxy;
}

bool NetworkSettings::bypasses(const QString &hostText) const
{
    const QString host = withoutBrackets(hostText);
    QStringList entries = m_bypass;
    for (const char *direct : kAlwaysDirect)
        entries.append(QLatin1String(direct));
    for (const QString &entry : std::as_const(entries)) {
        if (entry == QLatin1String("*") || host == entry ||
            host.endsWith(QLatin1Char('.') + entry) ||
            (entry.contains(u'/') && inRange(host, entry)))
            return true;
    }
    return false;
}

QByteArray NetworkSettings::bypassList() const
{
    QStringList entries = m_bypass;
    for (const char *direct : kAlwaysDirect)
        entries.append(QLatin1String(direct));
    return entries.join(u',').toLatin1();
}

QStringList NetworkSettings::browserSwitches() const
{
    if (m_httpProxy.isEmpty() && m_httpsProxy.isEmpty())
        return {QStringLiteral("--no-proxy-server")};
    QStringList servers;
    if (!m_httpProxy.isEmpty())
        servers.append(QLatin1String("http=") + browserProxy(m_httpProxy));
    if (!m_httpsProxy.isEmpty())
        servers.append(QLatin1String("https=") + browserProxy(m_httpsProxy));
    // Chromium matches a bare name exactly, "*.name" its subdomains; loopback stays direct
    // by its own rule.
    QStringList bypass;
    unsigned char address[16];
    for (const QString &entry : m_bypass) {
        bypass.append(entry);
        if (!entry.contains(u'/') && entry != QLatin1String("*") &&
            addressBits(entry, address) == 0)
            bypass.append(QLatin1String("*.") + entry);
    }
    QStringList switches = {QLatin1String("--proxy-server=") + servers.join(u';')};
    if (!bypass.isEmpty())
        switches.append(QLatin1String("--proxy-bypass-list=") + bypass.join(u';'));
    return switches;
}
