// The decisions of the request opener and of the proxy lookup that need no platform: which proxies
// each attempt of a download tries (a script's proxy list split into its entries), which proxy
// lookups a user's settings call for, which secure protocols to ask for after the platform refused
// a set, and the log lines of a lookup. Standard headers only, so unit tests and the fuzz target
// call them directly.
#pragma once

#include <stddef.h>

// Secure protocol bits as WinHTTP defines them (checked against <winhttp.h> where it is used).
enum : unsigned {
    kSecureProtocolTls12 = 0x00000800,
    kSecureProtocolTls13 = 0x00002000,
};

// What the configuration script (or automatic detection) answered for a host.
enum ScriptAnswer : int {
    kScriptNotAsked = 0, // no lookup made for the host (yet)
    kScriptProxy = 1,    // a proxy list, maybe with a bypass list
    kScriptDirect = 2,   // DIRECT
    kScriptFailed = 3,   // the script could not be fetched or run, or no WPAD server answered
};

// How a WinHTTP session reaches the download host.
enum class RouteKind {
    PlatformDefault, // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
    NamedProxy,      // WINHTTP_ACCESS_TYPE_NAMED_PROXY with proxy and bypass
    Direct,          // WINHTTP_ACCESS_TYPE_NO_PROXY
};

struct DownloadRoute {
    RouteKind kind;
    const wchar_t* proxy;  // NamedProxy only
    const wchar_t* bypass; // NamedProxy only; null for none
};

// The user's proxy as the downloads see it: the proxy text of the settings, and the answer the
// script gave for the download host when there is no proxy text.
struct UserProxy {
    const wchar_t* proxyText;
    int scriptAnswer;
    const wchar_t* scriptProxy;
    const wchar_t* scriptBypass;
    int carriedEntry; // 1 + the index of the script's entry that carried the start's last download; 0: none
    unsigned failedEntries; // bit i: the script's entry i failed this start and carried nothing since
};

// A proxy list split into its entries, in order: each a proxy as WinHTTP names one ("host:port",
// maybe with a scheme) or "DIRECT". Entries past kMaxProxyEntries are dropped: each dead one costs
// an attempt its connect deadline.
enum : int { kMaxProxyEntries = 4, kProxyEntryCapacity = 300 };
struct ProxyList {
    int count;
    wchar_t entries[kMaxProxyEntries][kProxyEntryCapacity];
};

// Splits a script's answer ("PROXY a:8080; PROXY b:8080; DIRECT", keywords in any case) or
// WinHTTP's own list ("a:8080;b:8080", entries apart by ';' or blanks). Entries WinHTTP cannot
// use (SOCKS, HTTPS proxies), repeated ones and ones too long for an entry are left out.
void SplitProxyList(const wchar_t* answer, ProxyList* out);
bool ProxyEntryIsDirect(const wchar_t* entry);

// The routes one attempt of a download tries in order. The routes point into the plan's own list:
// a plan is filled in place and never copied.
struct RoutePlan {
    int count;
    int entryIndex[kMaxProxyEntries]; // for routes of the script's list: each one's index in list
    DownloadRoute routes[kMaxProxyEntries];
    ProxyList list;
};

// Attempt 0 (and the proxy-login fallback) goes through the user's proxy: the proxy text alone
// (without bypass list, as the settings' text is passed on), else the entries of the script's
// answer in order, the entry that carried the start's last download first, entries that failed
// earlier in the start left out (when all did, the first one alone is tried again); attempt 1, and
// attempt 0 of a user without either, use the platform default.
void PlanDownloadRoutes(int attempt, const UserProxy& user, RoutePlan* plan);

// Whether the plan's routes are the entries of the script's list: a list is split only for them.
bool RoutesFromScriptList(const RoutePlan& plan);

// The host name WinHTTP connects to for a proxy entry and a request with or without TLS
// ("http://p.example:3128" -> "p.example", "[::1]:3128" -> "::1"; from a per-scheme list
// "http=p:1;https=q:2" the server of the request's scheme, "q" with TLS, else the first one);
// false, with host empty, when there is none or it does not fit.
bool ProxyEntryHost(const wchar_t* entry, bool useTls, wchar_t* host, size_t capacity);

// Whether the downloads must ask the platform for the proxy of the host: only without a proxy
// text, and only with a script address or automatic detection.
bool NeedsProxyLookup(const wchar_t* proxyText, const wchar_t* autoConfigUrl, int autoDetect);

enum class ProxyLookup {
    ScriptAddress,   // WINHTTP_AUTOPROXY_CONFIG_URL with the address of the settings
    AutoDetection,   // WINHTTP_AUTOPROXY_AUTO_DETECT, DHCP and DNS
};

// The lookups to try in order, into plan (room for two); returns their count. The script address
// comes first; detection follows when it is switched on.
int PlanProxyLookups(const wchar_t* autoConfigUrl, int autoDetect, ProxyLookup plan[2]);

// The protocols to ask for after refused was refused: TLS 1.2 + 1.3, then TLS 1.2 alone, then 0
// (nothing left; the platform default applies).
unsigned SecureProtocolsAfterRefusal(unsigned refused);

// The start-up line for a user with a script address or detection and no proxy text.
void FormatProxyScriptSettingsLine(wchar_t* line, size_t capacity, int autoDetect, const wchar_t* autoConfigUrl,
                                   const wchar_t* bypass);

// The line that says what the lookup decided for the host.
void FormatProxyScriptAnswerLine(wchar_t* line, size_t capacity, const wchar_t* host, int scriptAnswer,
                                 const wchar_t* proxy, const wchar_t* bypass);
