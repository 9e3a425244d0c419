#include "web/localnetwork.h"

#include "web/addresstext.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex g_ruleMutex;
LocalNetworkRule g_rule;

// Private, loopback and link-local ranges, the shared address space of carrier NAT
// (100.64.0.0/10, where cloud metadata services also answer) and the benchmarking range
// (198.18.0.0/15).
bool isLocalV4(const unsigned char *a)
{
    return a[0] == 127 || a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) ||
           (a[0] == 192 && a[1] == 168) || (a[0] == 169 && a[1] == 254) || a[0] == 0 ||
           (a[0] == 100 && (a[1] & 0xC0) == 64) || (a[0] == 198 && (a[1] & 0xFE) == 18);
}

} // namespace

bool isLocalNetworkAddress(const QString &address)
{
    QByteArray text = address.toLatin1();
    if (text.startsWith('[') && text.endsWith(']'))
        text = text.mid(1, text.size() - 2);
    const qsizetype zone = text.indexOf('%'); // fe80::1%eth0
    if (zone >= 0)
        text.truncate(zone);
    unsigned char a[16];
    if (parseIPv4Address(text.constData(), a))
        return isLocalV4(a);
    if (!parseIPv6Address(text.constData(), a))
        return false;
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char unspecified[16] = {};
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    // NAT64 (64:ff9b::/96) reaches the IPv4 address in its last four bytes. On an IPv6-only
    // network every public host resolves into it, so only the local ones inside it are local.
    static const unsigned char nat64[12] = {0, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
    if (std::memcmp(a, loopback, 16) == 0 || std::memcmp(a, unspecified, 16) == 0)
        return true;
    if (std::memcmp(a, mapped, 12) == 0 || std::memcmp(a, nat64, 12) == 0)
        return isLocalV4(a + 12);
    return (a[0] & 0xFE) == 0xFC || (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);
}

void setLocalNetworkRule(LocalNetworkRule rule)
{
    std::lock_guard<std::mutex> lock(g_ruleMutex);
    g_rule = std::move(rule);
}

bool goesIntoLocalNetwork(const QString &host, const QString &address)
{
    LocalNetworkRule rule;
    {
        std::lock_guard<std::mutex> lock(g_ruleMutex);
        rule = g_rule;
    }
    return rule ? rule(host, address) : isLocalNetworkAddress(address);
}
