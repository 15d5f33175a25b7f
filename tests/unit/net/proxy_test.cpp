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

TEST(ProxyLogLine, AbsentTextsShowAsNull)
{
    wchar_t line[4096];
    FormatProxyLogLine(line, 4096, 1, L"p:8080", nullptr, nullptr);
    EXPECT_STREQ(L"Proxy: detect=1, url=p:8080, config=(null), bypass=(null)", line);
}
