#include "net/proxy.h"

#include <windows.h>

#include <winhttp.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/state.h"
#include "log/format.h"
#include "log/log.h"

void ReadProxySettings()
{
    LauncherState& s = launcherState;
    LogLine(L"get Win IE proxies");
    memset(&s.proxyConfig, 0, sizeof s.proxyConfig);
    if (!WinHttpGetIEProxyConfigForCurrentUser(&s.proxyConfig) || !s.proxyConfig.lpszProxy)
        return;
    wchar_t line[4096] = {};
    FormatProxyLogLine(line, 4096, s.proxyConfig.fAutoDetect, s.proxyConfig.lpszProxy,
                       s.proxyConfig.lpszAutoConfigUrl, s.proxyConfig.lpszProxyBypass);
    wcstombs(s.proxyTextCopy, s.proxyConfig.lpszProxy, kProxyCopyCapacity);
    s.proxyTextCopy[kProxyCopyCapacity - 1] = 0;
    if (ProxyTextNamesServer(s.proxyTextCopy))
        s.useProxyArguments = 1;
    LogLine(line);
}

wchar_t* BuildProxyArguments()
{
    const wchar_t* proxy = launcherState.proxyConfig.lpszProxy;
    const wchar_t* server = proxy ? ProxyServerText(proxy) : nullptr;
    wchar_t* fragment = nullptr;
    if (server) {
        const wchar_t* bypass = launcherState.proxyConfig.lpszProxyBypass;
        if (!bypass)
            bypass = L"";
        LogPrintf(L"windowsProxyParams len %d", static_cast<int>(ProxyFragmentSize(server, bypass)));
        fragment = BuildProxyFragment(server, bypass);
    }
    return fragment ? fragment : _wcsdup(L" ");
}
