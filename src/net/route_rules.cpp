#include "net/route_rules.h"

#include <wchar.h>
#include <wctype.h>

#include "log/format.h"

namespace {

enum class EntryKind { Address, Proxy, Direct, Unusable };

bool SameWordIgnoringCase(const wchar_t* token, size_t length, const wchar_t* word)
{
    size_t i = 0;
    for (; i < length && word[i]; ++i) {
        if (towupper(static_cast<wint_t>(token[i])) != static_cast<wint_t>(word[i]))
            return false;
    }
    return i == length && !word[i];
}

// What a token of a list is: a keyword of a script's answer, or an address.
EntryKind ClassifyToken(const wchar_t* token, size_t length)
{
    if (SameWordIgnoringCase(token, length, L"PROXY") || SameWordIgnoringCase(token, length, L"HTTP"))
        return EntryKind::Proxy;
    if (SameWordIgnoringCase(token, length, L"DIRECT"))
        return EntryKind::Direct;
    // WinHTTP speaks to a proxy in plain HTTP only.
    const wchar_t* unusable[] = {L"HTTPS", L"SOCKS", L"SOCKS4", L"SOCKS5"};
    for (const wchar_t* word : unusable) {
        if (SameWordIgnoringCase(token, length, word))
            return EntryKind::Unusable;
    }
    return EntryKind::Address;
}

bool IsListSeparator(wchar_t c)
{
    return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

void AddEntry(ProxyList* out, const wchar_t* text, size_t length)
{
    if (out->count >= kMaxProxyEntries || length == 0 || length >= size_t(kProxyEntryCapacity))
        return;
    wchar_t* entry = out->entries[out->count];
    wmemcpy(entry, text, length);
    entry[length] = L'\0';
    for (int i = 0; i < out->count; ++i) {
        if (wcscmp(out->entries[i], entry) == 0)
            return;
    }
    ++out->count;
}

void AddRoute(RoutePlan* plan, int index, const wchar_t* bypass)
{
    const wchar_t* entry = plan->list.entries[index];
    plan->entryIndex[plan->count] = index;
    if (ProxyEntryIsDirect(entry))
        plan->routes[plan->count++] = {RouteKind::Direct, nullptr, nullptr};
    else
        plan->routes[plan->count++] = {RouteKind::NamedProxy, entry, bypass};
}

// The server a per-scheme list ("http=p:1;https=q:2", entries apart by ';' or blanks) names for
// scheme: WinHTTP connects a request to the entry of its own scheme (WINHTTP_PROXY_INFO, Microsoft
// Learn: "[<scheme>=][<scheme>://]<server>[:<port>]"); otherwise when the list has none for it.
const wchar_t* SchemeServer(const wchar_t* list, const wchar_t* scheme, const wchar_t* otherwise)
{
    for (const wchar_t* p = list; *p;) {
        size_t name = wcscspn(p, L"=; \t");
        if (p[name] == L'=' && SameWordIgnoringCase(p, name, scheme))
            return p + name + 1;
        p += wcscspn(p, L"; \t");
        p += wcsspn(p, L"; \t");
    }
    return otherwise;
}

} // namespace

void SplitProxyList(const wchar_t* answer, ProxyList* out)
{
    out->count = 0;
    EntryKind pending = EntryKind::Address;
    for (const wchar_t* p = answer; p && *p;) {
        while (*p && IsListSeparator(*p))
            ++p;
        const wchar_t* start = p;
        while (*p && !IsListSeparator(*p))
            ++p;
        size_t length = size_t(p - start);
        if (length == 0)
            break;
        EntryKind kind = ClassifyToken(start, length);
        if (kind == EntryKind::Direct)
            AddEntry(out, L"DIRECT", 6);
        else if (kind == EntryKind::Address && pending != EntryKind::Unusable)
            AddEntry(out, start, length);
        // A keyword says what the address after it is.
        pending = kind == EntryKind::Proxy || kind == EntryKind::Unusable ? kind : EntryKind::Address;
    }
}

bool ProxyEntryIsDirect(const wchar_t* entry)
{
    return wcscmp(entry, L"DIRECT") == 0;
}

void PlanDownloadRoutes(int attempt, const UserProxy& user, RoutePlan* plan)
{
    plan->count = 0;
    plan->list.count = 0;
    if (attempt == 0 && user.proxyText) {
        plan->routes[plan->count++] = {RouteKind::NamedProxy, user.proxyText, nullptr};
        return;
    }
    if (attempt == 0 && user.scriptAnswer == kScriptProxy)
        SplitProxyList(user.scriptProxy, &plan->list);
    if (plan->list.count > 0) {
        int first = user.carriedEntry - 1;
        if (first >= 0 && first < plan->list.count)
            AddRoute(plan, first, user.scriptBypass);
        for (int i = 0; i < plan->list.count; ++i) {
            if (i != first && !(user.failedEntries & (1u << i)))
                AddRoute(plan, i, user.scriptBypass);
        }
        if (plan->count == 0)
            AddRoute(plan, 0, user.scriptBypass);
        return;
    }
    if (attempt == 0 && user.scriptAnswer == kScriptDirect)
        plan->routes[plan->count++] = {RouteKind::Direct, nullptr, nullptr};
    else
        plan->routes[plan->count++] = {RouteKind::PlatformDefault, nullptr, nullptr};
}

bool RoutesFromScriptList(const RoutePlan& plan)
{
    return plan.list.count > 0;
}

bool ProxyEntryHost(const wchar_t* entry, bool useTls, wchar_t* host, size_t capacity)
{
    host[0] = L'\0';
    const wchar_t* p = entry;
    const wchar_t* equals = wcschr(p, L'=');
    if (equals && equals < p + wcscspn(p, L":/;"))
        p = SchemeServer(entry, useTls ? L"HTTPS" : L"HTTP", equals + 1);
    const wchar_t* scheme = wcsstr(p, L"://");
    if (scheme && scheme < p + wcscspn(p, L";"))
        p = scheme + 3;
    size_t length;
    if (*p == L'[') {
        ++p;
        length = wcscspn(p, L"]");
    } else {
        length = wcscspn(p, L":/; \t");
    }
    if (length == 0 || length >= capacity)
        return false;
    wmemcpy(host, p, length);
    host[length] = L'\0';
    return true;
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
