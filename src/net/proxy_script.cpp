#include "net/proxy_script.h"

#include <windows.h>
#include <winhttp.h>

#include <wchar.h>

#include "app/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

enum : int {
    // Fetching the script is bounded like a small download; a dead script address must not hold
    // up a start for the platform's default minute.
    kLookupTimeoutMs = 5000,
    kLookupUrlCapacity = kPathCapacity + 16,
    kLookupLineCapacity = 4096,
};

const wchar_t kLookupAgent[] = L"WinHTTP tarvolin Client Launcher";

DWORD LookUpProxy(HINTERNET session, const wchar_t* url, ProxyLookup lookup, WINHTTP_PROXY_INFO* info)
{
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (lookup == ProxyLookup::ScriptAddress) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = launcherState.proxyConfig.lpszAutoConfigUrl;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    // A script server inside the company may ask for the Windows logon.
    options.fAutoLogonIfChallenged = TRUE;
    if (WinHttpGetProxyForUrl(session, url, &options, info))
        return 0;
    return GetLastError();
}

// Runs the planned lookups in order until one answers; 0 or the error of the first that failed.
DWORD AskPlatform(const wchar_t* url, WINHTTP_PROXY_INFO* info)
{
    ProxyLookup plan[2];
    int count = PlanProxyLookups(launcherState.proxyConfig.lpszAutoConfigUrl, launcherState.proxyConfig.fAutoDetect,
                                 plan);
    HINTERNET session = WinHttpOpen(kLookupAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return GetLastError();
    WinHttpSetTimeouts(session, kLookupTimeoutMs, kLookupTimeoutMs, kLookupTimeoutMs, kLookupTimeoutMs);
    DWORD firstError = 0;
    for (int i = 0; i < count; ++i) {
        DWORD error = LookUpProxy(session, url, plan[i], info);
        if (!error) {
            firstError = 0;
            break;
        }
        if (!firstError)
            firstError = error;
    }
    WinHttpCloseHandle(session);
    return firstError;
}

void ForgetAnswer()
{
    LauncherState& s = launcherState;
    if (s.scriptProxy)
        GlobalFree(s.scriptProxy);
    if (s.scriptProxyBypass)
        GlobalFree(s.scriptProxyBypass);
    s.scriptProxy = nullptr;
    s.scriptProxyBypass = nullptr;
    s.scriptAnswer = kScriptNotAsked;
    s.scriptProxyHost[0] = 0;
}

void KeepAnswer(WINHTTP_PROXY_INFO& info)
{
    LauncherState& s = launcherState;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy && info.lpszProxy[0]) {
        s.scriptAnswer = kScriptProxy;
        s.scriptProxy = info.lpszProxy;
        s.scriptProxyBypass = info.lpszProxyBypass;
        return;
    }
    s.scriptAnswer = kScriptDirect;
    if (info.lpszProxy)
        GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass)
        GlobalFree(info.lpszProxyBypass);
}

void LookUpHost(int useTls)
{
    LauncherState& s = launcherState;
    ForgetAnswer();
    BoundedFormat(s.scriptProxyHost, kPathCapacity, L"%s", s.downloadHost);
    wchar_t url[kLookupUrlCapacity];
    BoundedFormat(url, kLookupUrlCapacity, L"%s://%s/", useTls ? L"https" : L"http", s.downloadHost);

    WINHTTP_PROXY_INFO info = {};
    DWORD error = AskPlatform(url, &info);
    if (error)
        s.scriptAnswer = kScriptFailed;
    else
        KeepAnswer(info);

    wchar_t line[kLookupLineCapacity];
    FormatProxyScriptAnswerLine(line, kLookupLineCapacity, s.downloadHost, s.scriptAnswer, s.scriptProxy,
                                s.scriptProxyBypass);
    if (error)
        LogSystemError(error, line);
    else
        LogLine(line);
}

} // namespace

DownloadRoute UserDownloadRoute(int attempt, int useTls)
{
    LauncherState& s = launcherState;
    const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config = s.proxyConfig;
    if (attempt == 0 && NeedsProxyLookup(config.lpszProxy, config.lpszAutoConfigUrl, config.fAutoDetect) &&
        (s.scriptAnswer == kScriptNotAsked || wcscmp(s.scriptProxyHost, s.downloadHost) != 0))
        LookUpHost(useTls);
    UserProxy user = {config.lpszProxy, s.scriptAnswer, s.scriptProxy, s.scriptProxyBypass};
    return ChooseDownloadRoute(attempt, user);
}
