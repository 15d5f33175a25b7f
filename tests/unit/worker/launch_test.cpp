#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "worker/cmdline.h"
#include "worker/launch.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& line)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> result(arguments, arguments + count);
    LocalFree(arguments);
    return result;
}

LauncherCommandValues SampleValues()
{
    return LauncherCommandValues{L"C:\\c\\zentrixjre\\jre\\bin\\javaw",
                                 nullptr,
                                 L"-Dde.tarvolin.launchURL=https://h/a.kvnlp",
                                 L"-Dde.tarvolin.appVariant=alda",
                                 L"-Dde.tarvolin.jreSrcUrlPath=get.tarvolin.example/apps/zentrix/windows/jre/",
                                 L"-Dde.tarvolin.jreCacheBasePath=C:\\c\\zentrixjre",
                                 L"-Dcom.tarvolin.launch.exe=C:\\p\\DesktopLauncher.exe",
                                 L"-Dde.tarvolin.LocalLowPath=",
                                 L"-Dde.tarvolin.RoamingPath=",
                                 L"C:\\t\\TPL1.tmp",
                                 L"C:\\t\\TPL0.tmp"};
}

} // namespace

TEST(QuotedArgument, RoundTripsThroughTheWindowsSplitter)
{
    const wchar_t* values[] = {L"plain", L"", L"with blank", L"a\"quote", L"trailing\\", L"both\\\"x\\",
                               L"\\\\server\\share\\", L"x\" -javaagent:evil.jar \"", L"\\\"\\\\\"", L"tab\there"};
    wchar_t line[2048] = L"prog.exe";
    for (const wchar_t* value : values) {
        wcscat(line, L" ");
        ASSERT_TRUE(AppendQuotedArgument(line, 2048, value));
    }
    std::vector<std::wstring> split = Split(line);
    ASSERT_EQ(std::size(values) + 1, split.size());
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(values[i], split[i + 1]);
}

TEST(QuotedArgument, PlainValuesKeepTheSimpleFormAndOverflowLeavesTheTextAlone)
{
    wchar_t out[16] = L"x ";
    EXPECT_TRUE(AppendQuotedArgument(out, 16, L"a\\b c"));
    EXPECT_STREQ(L"x \"a\\b c\"", out);
    EXPECT_FALSE(AppendQuotedArgument(out, 16, L"too long for it"));
    EXPECT_STREQ(L"x \"a\\b c\"", out);
}

TEST(LauncherCommandLine, PlainFormListsTheValuesInOrder)
{
    wchar_t line[kLauncherCommandLineCapacity];
    ASSERT_TRUE(BuildLauncherCommandLine(SampleValues(), line, kLauncherCommandLineCapacity));
    EXPECT_STREQ(L"\"C:\\c\\zentrixjre\\jre\\bin\\javaw\" \"-Djava.net.useSystemProxies=true\" "
                 L"\"-Dde.tarvolin.launchURL=https://h/a.kvnlp\" \"-Dde.tarvolin.appVariant=alda\" "
                 L"\"-Dde.tarvolin.jreSrcUrlPath=get.tarvolin.example/apps/zentrix/windows/jre/\" "
                 L"\"-Dde.tarvolin.jreCacheBasePath=C:\\c\\zentrixjre\" "
                 L"\"-Dcom.tarvolin.launch.exe=C:\\p\\DesktopLauncher.exe\" \"-Dde.tarvolin.LocalLowPath=\" "
                 L"\"-Dde.tarvolin.RoamingPath=\" -jar \"C:\\t\\TPL1.tmp\" \"C:\\t\\TPL0.tmp\"",
                 line);
}

TEST(LauncherCommandLine, ProxyFragmentStandsBetweenTwoPairsOfBlanks)
{
    LauncherCommandValues values = SampleValues();
    values.proxyFragment = L" \"-Dde.tarvolin.windowsProxyServer=p:8080\" \"-Dde.tarvolin.windowsProxyBypass=\" ";
    wchar_t line[kLauncherCommandLineCapacity];
    ASSERT_TRUE(BuildLauncherCommandLine(values, line, kLauncherCommandLineCapacity));
    std::wstring text = line;
    EXPECT_EQ(0u, text.find(L"\"C:\\c\\zentrixjre\\jre\\bin\\javaw\"  \"-Dde.tarvolin.windowsProxyServer=p:8080\" "
                            L"\"-Dde.tarvolin.windowsProxyBypass=\"  \"-Djava.net.useSystemProxies=true\" "));
}

TEST(LauncherCommandLine, InjectedQuotesStayInsideTheirArgument)
{
    LauncherCommandValues values = SampleValues();
    values.launchUrl = L"-Dde.tarvolin.launchURL=x\" -javaagent:C:\\evil.jar \"y\\";
    wchar_t line[kLauncherCommandLineCapacity];
    ASSERT_TRUE(BuildLauncherCommandLine(values, line, kLauncherCommandLineCapacity));
    std::vector<std::wstring> split = Split(line);
    ASSERT_EQ(12u, split.size());
    EXPECT_EQ(values.launchUrl, split[2]);
    EXPECT_EQ(L"-jar", split[9]);
    EXPECT_EQ(L"C:\\t\\TPL0.tmp", split[11]);
}

TEST(LauncherCommandLine, LeavesOffWholeArgumentsThatDoNotFit)
{
    wchar_t line[200];
    EXPECT_FALSE(BuildLauncherCommandLine(SampleValues(), line, 200));
    std::vector<std::wstring> split = Split(line);
    EXPECT_EQ(L"C:\\c\\zentrixjre\\jre\\bin\\javaw", split[0]);
    EXPECT_EQ(L'"', line[wcslen(line) - 1]);
}
