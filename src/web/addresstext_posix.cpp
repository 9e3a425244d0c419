#include "web/addresstext.h"

#include <arpa/inet.h>

bool parseIPv4Address(const char *text, unsigned char *bytes)
{
    return inet_pton(AF_INET, text, bytes) == 1;
}

bool parseIPv6Address(const char *text, unsigned char *bytes)
{
    return inet_pton(AF_INET6, text, bytes) == 1;
}
