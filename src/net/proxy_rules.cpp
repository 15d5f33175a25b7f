// The proxy decisions that need no platform: whether the proxy text names a server, where the
// server text starts, and the command-line fragment. Standard headers only, so they also build
// natively for fuzzing.
#include "net/proxy.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "log/format.h"
#include "worker/cmdline.h"

bool ProxyTextNamesServer(const char* proxyText)
{
    if (strstr(proxyText, "://"))
        return true;
    if (strchr(proxyText, '='))
        return false;
    return strchr(proxyText, ':') != nullptr;
}

const wchar_t* ProxyServerText(const wchar_t* proxyText)
{
    if (const wchar_t* http = wcsstr(proxyText, L"http://"))
        return http + 7;
    if (const wchar_t* https = wcsstr(proxyText, L"https://"))
        return https + 8;
    return wcschr(proxyText, L':') ? proxyText : nullptr;
}

size_t ProxyFragmentSize(const wchar_t* server, const wchar_t* bypass)
{
    return 2 * (wcslen(server) + wcslen(bypass)) + 400;
}

wchar_t* BuildProxyFragment(const wchar_t* server, const wchar_t* bypass)
{
    wchar_t serverProperty[1024];
    wchar_t bypassProperty[1024];
    BoundedFormat(serverProperty, 1024, L"-Dde.tarvolin.windowsProxyServer=%s", server);
    BoundedFormat(bypassProperty, 1024, L"-Dde.tarvolin.windowsProxyBypass=%s", bypass);
    // Quoting can double every character of a value; leave room for that and the frame.
    size_t capacity = 2 * (wcslen(serverProperty) + wcslen(bypassProperty)) + 16;
    wchar_t* fragment = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
    if (!fragment)
        return nullptr;
    wcscpy(fragment, L" ");
    AppendQuotedArgument(fragment, capacity, serverProperty);
    wcscat(fragment, L" ");
    AppendQuotedArgument(fragment, capacity, bypassProperty);
    wcscat(fragment, L" ");
    return fragment;
}

void FormatProxyLogLine(wchar_t* line, size_t capacity, int autoDetect, const wchar_t* proxy,
                        const wchar_t* autoConfigUrl, const wchar_t* bypass)
{
    BoundedFormat(line, capacity, L"Proxy: detect=%d, url=%s, config=%s, bypass=%s", autoDetect, proxy,
                  autoConfigUrl, bypass);
}
