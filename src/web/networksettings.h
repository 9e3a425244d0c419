#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QUrl;

// How the program's requests reach the network: directly, or through a proxy. Every request
// goes through an HttpSession made with these, the embedded browser takes its flags from them,
// and a new network setting is added here.
//
// Whatever the proxy, this machine's own addresses (localhost, 127.0.0.0/8, ::1: the bundled
// demo site) are always reached directly.
class NetworkSettings
{
public:
    enum class Proxy {
        Direct, // no proxy, whatever the environment says
        System, // the environment's http_proxy, https_proxy and no_proxy (or upper-case)
        Named,  // http://[user:password@]host:port or socks5://host:port
    };

    // Direct.
    NetworkSettings() = default;

    // Reads a [network] proxy value: "" (direct), "system" or a proxy address. For "system"
    // the environment is read now. False for anything else, a proxy address without a port
    // included; *badVariable then names the environment variable whose value is not a proxy
    // address ("" when the value itself is wrong).
    static bool fromProxyText(const QString &text, NetworkSettings *settings,
                              QString *badVariable = nullptr);

    Proxy proxy() const { return m_proxy; }
    QString proxyText() const { return m_text; } // as written

    // The proxy a request to this address goes through, in libcurl's form ("http://u:p@h:port",
    // "socks5h://h:port": the proxy resolves the name), or "" when it goes directly.
    QByteArray proxyFor(const QUrl &url) const;
    // The proxy for addresses of this scheme ("http", "https"), bypassed hosts aside.
    QByteArray proxyForScheme(const QString &scheme) const;
    // Whether a request to this host (a name or an address literal) skips the proxy.
    bool bypasses(const QString &host) const;
    // The hosts that skip the proxy, for libcurl's no-proxy list: the same as bypasses().
    QByteArray bypassList() const;
    // Chromium's switches for the embedded browser: --no-proxy-server, or --proxy-server and
    // --proxy-bypass-list.
    QStringList browserSwitches() const;

    bool operator==(const NetworkSettings &other) const
    {
        return m_text == other.m_text && m_httpProxy == other.m_httpProxy &&
               m_httpsProxy == other.m_httpsProxy && m_bypass == other.m_bypass;
    }
    bool operator!=(const NetworkSettings &other) const { return !(*this == other); }

private:
    QString m_text;
    Proxy m_proxy = Proxy::Direct;
    QByteArray m_httpProxy;  // libcurl's form; empty: direct
    QByteArray m_httpsProxy; // the same for https addresses
    QStringList m_bypass;    // no_proxy's entries, lower case, without a leading dot
};
