#include "net/request.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/transfer_rules.h"

static_assert(kSecureProtocolTls12 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, "protocol bits");
static_assert(kSecureProtocolTls13 == 0x00002000, "protocol bits (WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3)");

namespace {

// TLS 1.2 and 1.3, or 1.2 alone on stacks that predate 1.3 and refuse the pair; when even that is
// refused the platform default applies, and the log says so once per run.
void AskForSecureProtocols(HINTERNET session)
{
    DWORD protocols = kSecureProtocolTls12 | kSecureProtocolTls13;
    DWORD error = 0;
    while (protocols) {
        if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
            return;
        error = GetLastError();
        protocols = SecureProtocolsAfterRefusal(protocols);
    }
    if (launcherState.secureProtocolsRefusalLogged)
        return;
    launcherState.secureProtocolsRefusalLogged = TRUE;
    LogSystemError(error, L"WinHttpSetOption: TLS 1.2 refused, the platform's default protocols apply");
}

HINTERNET OpenSession(const wchar_t* userAgent, const DownloadRoute& route)
{
    switch (route.kind) {
    case RouteKind::NamedProxy:
        // Named when the session opens as well as set as an option: Wine accepts
        // WINHTTP_OPTION_PROXY but ignores it, and would send the request past the proxy.
        return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy,
                           route.bypass ? route.bypass : WINHTTP_NO_PROXY_BYPASS, 0);
    case RouteKind::Direct:
        return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    case RouteKind::PlatformDefault:
        break;
    }
    return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
}

void SetNamedProxy(HINTERNET session, const DownloadRoute& route)
{
    WINHTTP_PROXY_INFO proxy = {};
    proxy.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    proxy.lpszProxy = const_cast<wchar_t*>(route.proxy);
    proxy.lpszProxyBypass = const_cast<wchar_t*>(route.bypass);
    WinHttpSetOption(session, WINHTTP_OPTION_PROXY, &proxy, sizeof proxy);
}

// How many addresses name resolves to; 0 when it cannot be resolved here (WinHTTP then reports
// its own error). The system's resolver cache answers WinHTTP's own lookup that follows.
int CountAddresses(const wchar_t* name)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    ADDRINFOW hints = {};
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    int count = 0;
    if (GetAddrInfoW(name, nullptr, &hints, &found) == 0) {
        for (ADDRINFOW* a = found; a; a = a->ai_next)
            ++count;
        FreeAddrInfoW(found);
    }
    WSACleanup();
    return count;
}

// CountAddresses once per start and name: every request of a start goes to the same host, or
// through the same proxy, and need not wait for the resolver again. A name that did not resolve
// is asked again next time.
int KnownAddresses(const wchar_t* name)
{
    LauncherState& s = launcherState;
    if (s.connectNameAddresses > 0 && wcscmp(s.connectName, name) == 0)
        return s.connectNameAddresses;
    s.connectNameAddresses = 0;
    int count = CountAddresses(name);
    if (count > 0 && BoundedFormat(s.connectName, kPathCapacity, L"%s", name) == kFormatOk)
        s.connectNameAddresses = count;
    return count;
}

// The connect budget of a route: the addresses of the proxy it names, else of the download host.
ConnectBudget RouteConnectBudget(const DownloadRoute& route, int useTls)
{
    wchar_t proxyHost[kPathCapacity];
    const wchar_t* name = launcherState.downloadHost;
    if (route.kind == RouteKind::NamedProxy && ProxyEntryHost(route.proxy, useTls != 0, proxyHost, kPathCapacity))
        name = proxyHost;
    return PlanConnectBudget(KnownAddresses(name));
}

// The time-outs of transfer_rules.h, on the session and again on the request: a stack that does
// not pass the session's on to its requests still keeps them. The connect time-out holds for each
// address WinHTTP tries, and it tries one address per connect retry (WinHttpSetTimeouts and
// WINHTTP_OPTION_CONNECT_RETRIES, Microsoft Learn): the retries bound the addresses so that the
// connect deadline holds for the attempt as a whole. A stack that ignored the option would try at
// most its default of five addresses, 25 s at worst (Wine tries the first address only).
void SetTimeouts(HINTERNET handle, const ConnectBudget& budget)
{
    if (!WinHttpSetTimeouts(handle, kResolveTimeoutMs, budget.perAddressMs, kSendTimeoutMs, kReceiveTimeoutMs))
        LogSystemError(GetLastError(), L"WinHttpSetTimeouts");
    DWORD retries = static_cast<DWORD>(budget.addresses);
    WinHttpSetOption(handle, WINHTTP_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
}

} // namespace

DWORD OpenDownloadRequest(const wchar_t* userAgent, const DownloadRoute& route, const wchar_t* serverPath, int useTls,
                          DownloadRequest* out)
{
    DWORD error = 0;
    ConnectBudget budget = RouteConnectBudget(route, useTls);
    *out = DownloadRequest{};
    out->session = OpenSession(userAgent, route);
    if (!out->session) {
        error = GetLastError();
        goto quit;
    }
    SetTimeouts(out->session, budget);
    if (useTls)
        AskForSecureProtocols(out->session);
    if (route.kind == RouteKind::NamedProxy)
        SetNamedProxy(out->session, route);
    out->connection = WinHttpConnect(out->session, launcherState.downloadHost,
                                     useTls ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT, 0);
    if (!out->connection) {
        error = GetLastError();
        goto quit;
    }
    out->request = WinHttpOpenRequest(out->connection, L"GET", serverPath, nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, useTls ? WINHTTP_FLAG_SECURE : 0);
    if (!out->request) {
        error = GetLastError();
        goto quit;
    }
    SetTimeouts(out->request, budget);
    return 0;

quit:
    CloseDownloadRequest(out);
    return error;
}

void CloseDownloadRequest(DownloadRequest* handles)
{
    if (handles->request)
        WinHttpCloseHandle(handles->request);
    if (handles->connection)
        WinHttpCloseHandle(handles->connection);
    if (handles->session)
        WinHttpCloseHandle(handles->session);
    *handles = DownloadRequest{};
}
