// Which proxies each download attempt tries (a script's list split into its entries), which lookups a user's settings call for, the secure
// protocols after a refusal, and the log lines of a lookup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/route_rules.h"

// The plan as text: each route's proxy (with "/bypass"), DIRECT or default, apart by ", ".
std::wstring Routes(const RoutePlan& plan)
{
    std::wstring text;
    for (int i = 0; i < plan.count; ++i) {
        const DownloadRoute& r = plan.routes[i];
        text += i ? L", " : L"";
        text += r.kind == RouteKind::Direct ? L"DIRECT" : r.kind == RouteKind::PlatformDefault ? L"default" : r.proxy;
        text += r.bypass ? std::wstring(L"/") + r.bypass : L"";
    }
    return text;
}

TEST(PlanDownloadRoutes, ProxyTextThenTheScriptsEntriesOnTheFirstAttemptOnlyThePlatformDefaultAfter)
{
    const wchar_t* text = L"p:3128";
    const wchar_t* script = L"s:8080;t:8080";
    const wchar_t* bypass = L"<local>";
    struct Case {
        int attempt;
        UserProxy user;
        const wchar_t* routes;
    } cases[] = {
        {0, {text, kScriptNotAsked, nullptr, nullptr, 0, 0}, L"p:3128"},
        // A proxy text wins; the settings' bypass list is not the text's, as before.
        {0, {text, kScriptProxy, script, bypass, 0, 0}, L"p:3128"},
        {0, {nullptr, kScriptProxy, script, bypass, 0, 0}, L"s:8080/<local>, t:8080/<local>"},
        // The entry that carried the last download first; one the list does not have is no entry.
        {0, {nullptr, kScriptProxy, script, nullptr, 2, 0}, L"t:8080, s:8080"},
        {0, {nullptr, kScriptProxy, L"PROXY s:8080; DIRECT", nullptr, 5, 0}, L"s:8080, DIRECT"},
        // Entries that failed earlier in the start are left out; when all did, the first is tried.
        {0, {nullptr, kScriptProxy, L"s:1;t:1;DIRECT", nullptr, 0, 0x5}, L"t:1"},
        {0, {nullptr, kScriptProxy, script, nullptr, 0, 0x3}, L"s:8080"},
        {0, {nullptr, kScriptDirect, nullptr, nullptr, 0, 0}, L"DIRECT"},
        // A script that could not be fetched or run, or named nothing usable: as without one.
        {0, {nullptr, kScriptFailed, nullptr, nullptr, 0, 0}, L"default"},
        {0, {nullptr, kScriptNotAsked, nullptr, nullptr, 0, 0}, L"default"},
        {0, {nullptr, kScriptProxy, nullptr, nullptr, 0, 0}, L"default"},
        {0, {nullptr, kScriptProxy, L"SOCKS s:1080", nullptr, 0, 0}, L"default"},
        {1, {text, kScriptNotAsked, nullptr, nullptr, 0, 0}, L"default"},
        {1, {nullptr, kScriptProxy, script, bypass, 1, 0}, L"default"},
        {1, {nullptr, kScriptDirect, nullptr, nullptr, 0, 0}, L"default"},
    };
    for (const Case& c : cases) {
        RoutePlan plan;
        PlanDownloadRoutes(c.attempt, c.user, &plan);
        SCOPED_TRACE(testing::Message() << "attempt " << c.attempt << " answer " << c.user.scriptAnswer);
        EXPECT_EQ(c.routes, Routes(plan));
        EXPECT_EQ(c.attempt == 0 && c.user.scriptAnswer == kScriptProxy && !c.user.proxyText && plan.list.count > 0,
                  RoutesFromScriptList(plan));
    }
}

TEST(SplitProxyList, ScriptAnswersAndWinHttpListsIntoEntriesInOrder)
{
    std::wstring tooLong = std::wstring(kProxyEntryCapacity, L'x') + L":1;b:1";
    struct Case {
        const wchar_t* answer;
        const wchar_t* entries;
    } cases[] = {
        {L"PROXY a:8080; PROXY b:8080; DIRECT", L"a:8080|b:8080|DIRECT"},
        {L"a:8080;b:8080 c:1\t", L"a:8080|b:8080|c:1"},
        {L"proxy a:1;  direct ;HTTP http://b:2", L"a:1|DIRECT|http://b:2"},
        {L"SOCKS s:1; HTTPS h:443; PROXY a:1", L"a:1"},
        {L"PROXY a:1; PROXY a:1; DIRECT; DIRECT", L"a:1|DIRECT"},
        {L"a:1;b:1;c:1;d:1;e:1", L"a:1|b:1|c:1|d:1"},
        {tooLong.c_str(), L"b:1"},
        {L" ; ", L""},
        {nullptr, L""},
    };
    for (const Case& c : cases) {
        ProxyList list;
        SplitProxyList(c.answer, &list);
        std::wstring joined;
        for (int i = 0; i < list.count; ++i)
            joined += (i ? L"|" : L"") + std::wstring(list.entries[i]);
        EXPECT_EQ(c.entries, joined);
    }
    const wchar_t* hosts[][2] = {{L"a:8080", L"a"}, {L"http://p.example:3128", L"p.example"}, {L"[::1]:3128", L"::1"},
                                 {L"http=p:1;https=q:2", L"p"}, {L"p.example", L"p.example"}, {L"", L""}};
    for (auto& h : hosts) {
        wchar_t host[64];
        EXPECT_EQ(h[1][0] != 0, ProxyEntryHost(h[0], false, host, 64));
        EXPECT_STREQ(h[1], host);
    }
    // With TLS, WinHTTP connects to the list's https server; a list without one keeps the first.
    const wchar_t* tlsHosts[][2] = {{L"http=p:1;https=q:2", L"q"}, {L"HTTPS=q:2 http=p:1", L"q"},
                                    {L"http=p:1;ftp=f:21", L"p"}, {L"https://t:3128", L"t"}};
    for (auto& h : tlsHosts) {
        wchar_t host[64];
        EXPECT_TRUE(ProxyEntryHost(h[0], true, host, 64));
        EXPECT_STREQ(h[1], host);
    }
}

TEST(ProxyLookup, OnlyWithoutProxyTextTheScriptAddressFirstThenDetection)
{
    struct Case {
        const wchar_t* proxyText;
        const wchar_t* script;
        int detect;
        bool needed;
        std::vector<ProxyLookup> plan;
    } cases[] = {
        {nullptr, L"http://wpad/proxy.pac", 1, true, {ProxyLookup::ScriptAddress, ProxyLookup::AutoDetection}},
        {nullptr, L"http://wpad/proxy.pac", 0, true, {ProxyLookup::ScriptAddress}},
        {nullptr, nullptr, 1, true, {ProxyLookup::AutoDetection}},
        {nullptr, L"", 1, true, {ProxyLookup::AutoDetection}},
        {nullptr, L"", 0, false, {}},
        {nullptr, nullptr, 0, false, {}},
        {L"p:3128", L"http://wpad/proxy.pac", 1, false, {ProxyLookup::ScriptAddress, ProxyLookup::AutoDetection}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.script ? c.script : L"(null)") << " detect " << c.detect);
        EXPECT_EQ(c.needed, NeedsProxyLookup(c.proxyText, c.script, c.detect));
        ProxyLookup plan[2];
        int count = PlanProxyLookups(c.script, c.detect, plan);
        EXPECT_EQ(c.plan, std::vector<ProxyLookup>(plan, plan + count));
    }
}

TEST(SecureProtocols, Tls12And13ThenTls12AloneThenThePlatformDefault)
{
    unsigned first = kSecureProtocolTls12 | kSecureProtocolTls13;
    EXPECT_EQ(0x2800u, first);
    EXPECT_EQ(kSecureProtocolTls12, SecureProtocolsAfterRefusal(first));
    EXPECT_EQ(0u, SecureProtocolsAfterRefusal(kSecureProtocolTls12));
}

TEST(ProxyScriptLines, SettingsAndWhatTheLookupDecided)
{
    wchar_t line[200];
    FormatProxyScriptSettingsLine(line, 200, 1, L"http://10.0.0.1/p.pac", nullptr);
    EXPECT_STREQ(L"Proxy script: detect=1, config=http://10.0.0.1/p.pac, bypass=(null)", line);
    struct Case {
        int answer;
        const wchar_t* proxy;
        const wchar_t* bypass;
        const wchar_t* expected;
    } cases[] = {
        {kScriptProxy, L"p:3128", L"<local>", L"Proxy script for h.example: proxy=p:3128, bypass=<local>"},
        {kScriptProxy, L"p:3128", nullptr, L"Proxy script for h.example: proxy=p:3128, bypass=(null)"},
        {kScriptDirect, nullptr, nullptr, L"Proxy script for h.example: DIRECT"},
        {kScriptFailed, nullptr, nullptr, L"Proxy script for h.example: no answer, the downloads go on without it"},
    };
    for (const Case& c : cases) {
        FormatProxyScriptAnswerLine(line, 200, L"h.example", c.answer, c.proxy, c.bypass);
        EXPECT_STREQ(c.expected, line);
    }
}
