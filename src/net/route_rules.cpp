#include "net/route_rules.h"

#include "log/format.h"

DownloadRoute ChooseDownloadRoute(int attempt, const UserProxy& user)
{
    if (attempt != 0)
        return {RouteKind::PlatformDefault, nullptr, nullptr};
    if (user.proxyText)
        return {RouteKind::NamedProxy, user.proxyText, nullptr};
    if (user.scriptAnswer == kScriptProxy && user.scriptProxy)
        return {RouteKind::NamedProxy, user.scriptProxy, user.scriptBypass};
    if (user.scriptAnswer == kScriptDirect)
        return {RouteKind::Direct, nullptr, nullptr};
    return {RouteKind::PlatformDefault, nullptr, nullptr};
}

bool NeedsProxyLookup(const wchar_t* proxyText, const wchar_t* autoConfigUrl, int autoDetect)
{
    if (proxyText)
        return false;
    return (autoConfigUrl && autoConfigUrl[0]) || autoDetect;
}

int PlanProxyLookups(const wchar_t* autoConfigUrl, int autoDetect, ProxyLookup plan[2])
{
    int count = 0;
    if (autoConfigUrl && autoConfigUrl[0])
        plan[count++] = ProxyLookup::ScriptAddress;
    if (autoDetect)
        plan[count++] = ProxyLookup::AutoDetection;
    return count;
}

unsigned SecureProtocolsAfterRefusal(unsigned refused)
{
    if (refused & kSecureProtocolTls13)
        return kSecureProtocolTls12;
    return 0;
}

void FormatProxyScriptSettingsLine(wchar_t* line, size_t capacity, int autoDetect, const wchar_t* autoConfigUrl,
                                   const wchar_t* bypass)
{
    BoundedFormat(line, capacity, L"Proxy script: detect=%d, config=%s, bypass=%s", autoDetect, autoConfigUrl, bypass);
}

void FormatProxyScriptAnswerLine(wchar_t* line, size_t capacity, const wchar_t* host, int scriptAnswer,
                                 const wchar_t* proxy, const wchar_t* bypass)
{
    switch (scriptAnswer) {
    case kScriptProxy:
        BoundedFormat(line, capacity, L"Proxy script for %s: proxy=%s, bypass=%s", host, proxy, bypass);
        break;
    case kScriptDirect:
        BoundedFormat(line, capacity, L"Proxy script for %s: DIRECT", host);
        break;
    default:
        BoundedFormat(line, capacity, L"Proxy script for %s: no answer, the downloads go on without it", host);
        break;
    }
}
