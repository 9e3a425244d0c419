#include "web/addresstext.h"

#include <winsock2.h>
#include <ws2tcpip.h>

bool parseIPv4Address(const char *text, unsigned char *bytes)
{
    return inet_pton(AF_INET, text, bytes) == 1;
}

bool parseIPv6Address(const char *text, unsigned char *bytes)
{
    return inet_pton(AF_INET6, text, bytes) == 1;
}
