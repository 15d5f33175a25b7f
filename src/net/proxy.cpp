#include "net/proxy.h"

#include <stdlib.h>
#include <wchar.h>

#include "log/log.h"

void ReadProxySettings()
{
    LogLine(L"get Win IE proxies");
}

wchar_t* BuildProxyArguments()
{
    return wcsdup(L" ");
}
