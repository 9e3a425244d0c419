#pragma once

// An IPv4 (into 4 bytes) or IPv6 literal (into 16 bytes), read as the system's inet_pton reads
// it; false for anything else.
bool parseIPv4Address(const char *text, unsigned char *bytes);
bool parseIPv6Address(const char *text, unsigned char *bytes);
