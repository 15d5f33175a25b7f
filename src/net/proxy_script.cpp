#include "net/proxy_script.h"

#include <windows.h>
#include <winhttp.h>

#include <stdlib.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

enum : int {
    // Fetching the script is bounded like a small download; a dead script address must not hold
    // up a start for the platform's default minute.
    kLookupTimeoutMs = 5000,
    // The whole lookup, script address and detection together.
    kLookupWaitMs = 10000,
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
    // Without the logon first, and with it only when the script server asked for one: with
    // fAutoLogonIfChallenged TRUE the auto-proxy service caches neither the script's address nor
    // the script, and every start would detect and fetch anew ("AutoProxy Cache" and
    // WINHTTP_AUTOPROXY_OPTIONS, Microsoft Learn: call with FALSE, then with TRUE only after
    // ERROR_WINHTTP_LOGIN_FAILURE).
    options.fAutoLogonIfChallenged = FALSE;
    if (WinHttpGetProxyForUrl(session, url, &options, info))
        return 0;
    DWORD error = GetLastError();
    if (error != ERROR_WINHTTP_LOGIN_FAILURE)
        return error;
    options.fAutoLogonIfChallenged = TRUE;
    if (WinHttpGetProxyForUrl(session, url, &options, info))
        return 0;
    return GetLastError();
}

// One lookup handed to a thread of its own, so the start waits for it only so long: the platform
// may not apply the session's time-outs to the script's download (Wine does not). Whoever lets go
// of it last, the waiting download or the lookup thread, releases it with any answer not taken.
struct LookupJob {
    volatile LONG holders;
    wchar_t url[kLookupUrlCapacity];
    WINHTTP_PROXY_INFO info;
    DWORD error;
};

void ReleaseJob(LookupJob* job)
{
    if (InterlockedDecrement(&job->holders) != 0)
        return;
    if (job->info.lpszProxy)
        GlobalFree(job->info.lpszProxy);
    if (job->info.lpszProxyBypass)
        GlobalFree(job->info.lpszProxyBypass);
    free(job);
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

DWORD WINAPI LookupThread(void* parameter)
{
    LookupJob* job = static_cast<LookupJob*>(parameter);
    job->error = AskPlatform(job->url, &job->info);
    ReleaseJob(job);
    return 0;
}

// The lookup with a limit on the wait; 0 with the answer moved into info, or an error code
// (ERROR_WINHTTP_TIMEOUT when the limit passed).
DWORD AskPlatformWithinLimit(const wchar_t* url, WINHTTP_PROXY_INFO* info)
{
    LookupJob* job = static_cast<LookupJob*>(calloc(1, sizeof(LookupJob)));
    if (!job)
        return ERROR_NOT_ENOUGH_MEMORY;
    job->holders = 2;
    BoundedFormat(job->url, kLookupUrlCapacity, L"%s", url);
    HANDLE thread = CreateThread(nullptr, 0, LookupThread, job, 0, nullptr);
    if (!thread) {
        DWORD error = GetLastError();
        job->holders = 1;
        ReleaseJob(job);
        return error;
    }
    DWORD error = ERROR_WINHTTP_TIMEOUT;
    if (WaitForSingleObject(thread, kLookupWaitMs) == WAIT_OBJECT_0) {
        error = job->error;
        *info = job->info;
        job->info = WINHTTP_PROXY_INFO{};
    }
    CloseHandle(thread);
    ReleaseJob(job);
    return error;
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
    s.scriptEntryCarried = 0;
    s.scriptEntriesFailed = 0;
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
    DWORD error = AskPlatformWithinLimit(url, &info);
    if (error)
        s.scriptAnswer = kScriptFailed;
    else
        KeepAnswer(info);

    wchar_t line[kLookupLineCapacity];
    const wchar_t* configured = s.proxyConfig.lpszAutoConfigUrl;
    if (error == ERROR_WINHTTP_AUTODETECTION_FAILED && !(configured && *configured)) {
        // Detection alone found no script: the usual case outside a company network, no error.
        BoundedFormat(line, kLookupLineCapacity,
                      L"Proxy script for %s: keine automatische Konfiguration gefunden, Downloads ohne Proxy-Skript",
                      s.downloadHost);
        LogLine(line);
        return;
    }
    FormatProxyScriptAnswerLine(line, kLookupLineCapacity, s.downloadHost, s.scriptAnswer, s.scriptProxy,
                                s.scriptProxyBypass);
    if (error)
        LogSystemError(error, line);
    else
        LogLine(line);
}

} // namespace

void PlanUserDownloadRoutes(int attempt, int useTls, RoutePlan* plan)
{
    LauncherState& s = launcherState;
    const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config = s.proxyConfig;
    if (attempt == 0 && NeedsProxyLookup(config.lpszProxy, config.lpszAutoConfigUrl, config.fAutoDetect) &&
        (s.scriptAnswer == kScriptNotAsked || wcscmp(s.scriptProxyHost, s.downloadHost) != 0))
        LookUpHost(useTls);
    UserProxy user = {config.lpszProxy, s.scriptAnswer, s.scriptProxy, s.scriptProxyBypass, s.scriptEntryCarried,
                      s.scriptEntriesFailed};
    PlanDownloadRoutes(attempt, user, plan);
}

void NoteRouteOutcome(const RoutePlan& plan, int route, DWORD error)
{
    if (!RoutesFromScriptList(plan))
        return;
    int index = plan.entryIndex[route];
    const wchar_t* entry = plan.list.entries[index];
    wchar_t line[kLookupLineCapacity];
    if (error) {
        launcherState.scriptEntriesFailed |= 1u << index;
        BoundedFormat(line, kLookupLineCapacity, L"Proxy script entry %s failed%s", entry,
                      route + 1 < plan.count ? L", the next entry follows" : L"");
        LogSystemError(error, line);
        return;
    }
    launcherState.scriptEntryCarried = index + 1;
    launcherState.scriptEntriesFailed &= ~(1u << index);
    BoundedFormat(line, kLookupLineCapacity, L"Proxy script entry %s carries the download", entry);
    LogLine(line);
}
