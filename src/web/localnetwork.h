#pragma once

#include <QString>

#include <functional>

// Whether an address (an IPv4 or IPv6 literal) lies in this machine or its local network:
// loopback, private (10/8, 172.16/12, 192.168/16), link-local (169.254/16, fe80::/10),
// unique-local (fc00::/7), also as an IPv4-mapped IPv6 address. Anything else, a name
// included, is not.
bool isLocalNetworkAddress(const QString &address);

// Whether a request to `host`, connected to `address`, goes into the local network. A fetch
// that started at a public host refuses such a hop: a marketplace page must not lead the
// program to the seller's own machines. Decided by isLocalNetworkAddress(address) unless a
// test set a rule of its own (an empty rule restores it).
using LocalNetworkRule = std::function<bool(const QString &host, const QString &address)>;
void setLocalNetworkRule(LocalNetworkRule rule);
bool goesIntoLocalNetwork(const QString &host, const QString &address);
