#include "provision/version_rules.h"

#include <stdint.h>

int ParseVersionText(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit)
            value = limit; // keeps the digits that follow from overflowing
    }
    return static_cast<int>(negative ? -value : value);
}

bool VersionTextHasNumber(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    return *p >= '0' && *p <= '9';
}

bool RuntimeIsCurrent(bool binFolderExists, bool forceDownload, int remoteVersion, int localVersion,
                      bool markerExists)
{
    return binFolderExists && !forceDownload && remoteVersion <= localVersion && markerExists;
}
