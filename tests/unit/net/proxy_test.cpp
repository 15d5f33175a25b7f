#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "net/proxy.h"

TEST(ProxyRules, SchemeBeatsEqualsSignWhichBeatsColon)
{
    EXPECT_TRUE(ProxyTextNamesServer("proxy.example:8080"));
    EXPECT_TRUE(ProxyTextNamesServer("http://proxy.example:8080"));
    EXPECT_TRUE(ProxyTextNamesServer("http=http://p:1;https=https://p:2"));
    EXPECT_FALSE(ProxyTextNamesServer("http=p:1;https=p:2"));
    EXPECT_FALSE(ProxyTextNamesServer("proxyhost"));
    EXPECT_FALSE(ProxyTextNamesServer(""));
}

TEST(ProxyRules, ServerTextFollowsTheFirstHttpThenHttpsAnywhere)
{
    EXPECT_STREQ(L"p:8080", ProxyServerText(L"http://p:8080"));
    EXPECT_STREQ(L"s:443/", ProxyServerText(L"https://s:443/"));
    EXPECT_STREQ(L"p:1;https=https://s:2", ProxyServerText(L"http=http://p:1;https=https://s:2"));
    EXPECT_STREQ(L"p:1", ProxyServerText(L"https=https://s:2;http=http://p:1"));
    EXPECT_STREQ(L"host:3128", ProxyServerText(L"host:3128"));
    EXPECT_EQ(nullptr, ProxyServerText(L"host"));
}

TEST(ProxyFragment, FramesQuotedPropertiesAndCountsItsSize)
{
    EXPECT_EQ(428u, ProxyFragmentSize(L"proxy.exa:8080", L""));
    wchar_t* fragment = BuildProxyFragment(L"p:8080", L"");
    EXPECT_STREQ(L" \"-Dde.tarvolin.windowsProxyServer=p:8080\" \"-Dde.tarvolin.windowsProxyBypass=\" ", fragment);
    free(fragment);
    fragment = BuildProxyFragment(L"p\" -javaagent:x \"", L"<local>\\");
    EXPECT_STREQ(L" \"-Dde.tarvolin.windowsProxyServer=p\\\" -javaagent:x \\\"\" "
                 L"\"-Dde.tarvolin.windowsProxyBypass=<local>\\\\\" ",
                 fragment);
    free(fragment);
}

// A company's long bypass list reaches Java whole, entries unbroken.
TEST(ProxyFragment, HoldsAWholeLongBypassList)
{
    std::wstring bypass;
    for (int i = 0; bypass.size() < 4000; ++i)
        bypass += L"host" + std::to_wstring(i) + L".intra.example;";
    std::wstring server(1500, L's');
    wchar_t* fragment = BuildProxyFragment(server.c_str(), bypass.c_str());
    ASSERT_NE(nullptr, fragment);
    EXPECT_EQ(L" \"-Dde.tarvolin.windowsProxyServer=" + server + L"\" \"-Dde.tarvolin.windowsProxyBypass=" + bypass + L"\" ",
              std::wstring(fragment));
    free(fragment);
}

TEST(ProxyTextCopy, OneBytePerCharacterUpToU00FFStopsBeyondAndStaysInItsField)
{
    char copy[8];
    CopyProxyTextNarrow(copy, 8, L"p\u00e4:1\u20ac:2");
    EXPECT_STREQ("p\xe4:1", copy);
    CopyProxyTextNarrow(copy, 8, L"proxy.example:3128");
    EXPECT_STREQ("proxy.e", copy);
    CopyProxyTextNarrow(copy, 1, L"p:1");
    EXPECT_STREQ("", copy);
}

TEST(ProxyLogLine, AbsentTextsShowAsNull)
{
    wchar_t line[4096];
    FormatProxyLogLine(line, 4096, 1, L"p:8080", nullptr, nullptr);
    EXPECT_STREQ(L"Proxy: detect=1, url=p:8080, config=(null), bypass=(null)", line);
}
