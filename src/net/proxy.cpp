#include "net/proxy.h"

#include <windows.h>

#include <winhttp.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/route_rules.h"

namespace {
enum : int { kProxyLineCapacity = 4096 };
} // namespace

void ReadProxySettings()
{
    LauncherState& s = launcherState;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config = s.proxyConfig;
    LogLine(L"get Win IE proxies");
    memset(&config, 0, sizeof config);
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config))
        return;
    wchar_t line[kProxyLineCapacity] = {};
    if (!config.lpszProxy) {
        // Without a proxy text the downloads ask the script or detection later; say that they will.
        if (NeedsProxyLookup(config.lpszProxy, config.lpszAutoConfigUrl, config.fAutoDetect)) {
            FormatProxyScriptSettingsLine(line, kProxyLineCapacity, config.fAutoDetect, config.lpszAutoConfigUrl,
                                          config.lpszProxyBypass);
            LogLine(line);
        }
        return;
    }
    FormatProxyLogLine(line, kProxyLineCapacity, config.fAutoDetect, config.lpszProxy, config.lpszAutoConfigUrl,
                       config.lpszProxyBypass);
    CopyProxyTextNarrow(s.proxyTextCopy, kProxyCopyCapacity, config.lpszProxy);
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
