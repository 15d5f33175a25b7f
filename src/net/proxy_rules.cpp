// The proxy decisions that need no platform: whether the proxy text names a server, where the
// server text starts, and the command-line fragment. Standard headers only, so they also build
// natively for fuzzing.
#include "net/proxy.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/cmdline.h"
#include "log/format.h"

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

namespace {

// "prefix" + value in a buffer of its own size; malloc'd.
wchar_t* NewProperty(const wchar_t* prefix, const wchar_t* value)
{
    size_t capacity = wcslen(prefix) + wcslen(value) + 1;
    wchar_t* property = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
    if (property)
        BoundedFormat(property, capacity, L"%s%s", prefix, value);
    return property;
}

bool AppendBlank(wchar_t* out, size_t capacity)
{
    size_t length = wcslen(out);
    return BoundedFormat(out + length, capacity - length, L" ") == kFormatOk;
}

} // namespace

void CopyProxyTextNarrow(char* out, size_t capacity, const wchar_t* text)
{
    if (capacity == 0)
        return;
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i) {
        if (static_cast<unsigned>(text[i]) > 0xFF)
            break;
        out[i] = static_cast<char>(text[i]);
    }
    out[i] = 0;
}

wchar_t* BuildProxyFragment(const wchar_t* server, const wchar_t* bypass)
{
    // Both properties hold their whole values: a company's bypass list cut in the middle of an
    // entry would send Java past the proxy for the wrong hosts, or through it for local ones.
    wchar_t* serverProperty = NewProperty(L"-Dde.tarvolin.windowsProxyServer=", server);
    wchar_t* bypassProperty = NewProperty(L"-Dde.tarvolin.windowsProxyBypass=", bypass);
    wchar_t* fragment = nullptr;
    if (serverProperty && bypassProperty) {
        // Quoting can double every character of a value; leave room for that and the frame.
        size_t capacity = 2 * (wcslen(serverProperty) + wcslen(bypassProperty)) + 16;
        fragment = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
        bool whole = fragment && AppendBlank(fragment, capacity) &&
                     AppendQuotedArgument(fragment, capacity, serverProperty) && AppendBlank(fragment, capacity) &&
                     AppendQuotedArgument(fragment, capacity, bypassProperty) && AppendBlank(fragment, capacity);
        if (!whole) {
            free(fragment);
            fragment = nullptr;
        }
    }
    free(serverProperty);
    free(bypassProperty);
    return fragment;
}

void FormatProxyLogLine(wchar_t* line, size_t capacity, int autoDetect, const wchar_t* proxy,
                        const wchar_t* autoConfigUrl, const wchar_t* bypass)
{
    BoundedFormat(line, capacity, L"Proxy: detect=%d, url=%s, config=%s, bypass=%s", autoDetect, proxy,
                  autoConfigUrl, bypass);
}
