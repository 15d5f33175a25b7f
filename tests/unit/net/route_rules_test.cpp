// Which proxy each download attempt takes, which lookups a user's settings call for, the secure
// protocols after a refusal, and the log lines of a lookup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/route_rules.h"

TEST(ChooseDownloadRoute, ProxyTextThenScriptAnswerOnTheFirstAttemptOnlyThePlatformDefaultAfter)
{
    const wchar_t* text = L"p:3128";
    const wchar_t* script = L"s:8080;t:8080";
    const wchar_t* bypass = L"*.intra;<local>";
    struct Case {
        int attempt;
        UserProxy user;
        RouteKind kind;
        const wchar_t* proxy;
        const wchar_t* bypass;
    } cases[] = {
        {0, {text, kScriptNotAsked, nullptr, nullptr}, RouteKind::NamedProxy, text, nullptr},
        // A proxy text wins; the settings' bypass list is not the text's, as before.
        {0, {text, kScriptProxy, script, bypass}, RouteKind::NamedProxy, text, nullptr},
        {0, {nullptr, kScriptProxy, script, bypass}, RouteKind::NamedProxy, script, bypass},
        {0, {nullptr, kScriptProxy, script, nullptr}, RouteKind::NamedProxy, script, nullptr},
        {0, {nullptr, kScriptDirect, nullptr, nullptr}, RouteKind::Direct, nullptr, nullptr},
        // A script that could not be fetched or run: as without one.
        {0, {nullptr, kScriptFailed, nullptr, nullptr}, RouteKind::PlatformDefault, nullptr, nullptr},
        {0, {nullptr, kScriptNotAsked, nullptr, nullptr}, RouteKind::PlatformDefault, nullptr, nullptr},
        {0, {nullptr, kScriptProxy, nullptr, nullptr}, RouteKind::PlatformDefault, nullptr, nullptr},
        {1, {text, kScriptNotAsked, nullptr, nullptr}, RouteKind::PlatformDefault, nullptr, nullptr},
        {1, {nullptr, kScriptProxy, script, bypass}, RouteKind::PlatformDefault, nullptr, nullptr},
        {1, {nullptr, kScriptDirect, nullptr, nullptr}, RouteKind::PlatformDefault, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        DownloadRoute route = ChooseDownloadRoute(c.attempt, c.user);
        SCOPED_TRACE(testing::Message() << "attempt " << c.attempt << " answer " << c.user.scriptAnswer);
        EXPECT_EQ(c.kind, route.kind);
        EXPECT_EQ(c.proxy, route.proxy);
        EXPECT_EQ(c.bypass, route.bypass);
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
