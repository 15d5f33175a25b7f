#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_helpers.h"
#include "worker/launch.h"
#include "worker/path_rules.h"

namespace {

LauncherCommandValues SampleValues(const wchar_t* variant = L"alda")
{
    return LauncherCommandValues{L"C:\\c\\zentrixjre\\jre\\bin\\javaw",
                                 nullptr,
                                 L"https://h/a.kvnlp",
                                 variant,
                                 L"get.tarvolin.example/apps/zentrix/windows/jre/",
                                 L"C:\\c\\zentrixjre",
                                 L"C:\\p\\DesktopLauncher.exe",
                                 L"",
                                 L"",
                                 L"C:\\t\\TPL1.tmp",
                                 L"C:\\t\\TPL0.tmp"};
}

std::wstring Build(const LauncherCommandValues& values)
{
    wchar_t line[kLauncherCommandLineCapacity];
    EXPECT_TRUE(BuildLauncherCommandLine(values, line, kLauncherCommandLineCapacity));
    return line;
}

std::wstring PlainLine(const wchar_t* variant)
{
    return std::wstring(L"\"C:\\c\\zentrixjre\\jre\\bin\\javaw\" \"-Djava.net.useSystemProxies=true\" "
                        L"\"-Dde.tarvolin.launchURL=https://h/a.kvnlp\" \"-Dde.tarvolin.appVariant=") +
           variant +
           L"\" \"-Dde.tarvolin.jreSrcUrlPath=get.tarvolin.example/apps/zentrix/windows/jre/\" "
           L"\"-Dde.tarvolin.jreCacheBasePath=C:\\c\\zentrixjre\" "
           L"\"-Dcom.tarvolin.launch.exe=C:\\p\\DesktopLauncher.exe\" \"-Dde.tarvolin.LocalLowPath=\" "
           L"\"-Dde.tarvolin.RoamingPath=\" -jar \"C:\\t\\TPL1.tmp\" \"C:\\t\\TPL0.tmp\"";
}

} // namespace

TEST(LauncherCommandLine, PlainFormForEachVariantAndForNone)
{
    for (const wchar_t* variant : {L"alda", L"berk", L""})
        EXPECT_EQ(PlainLine(variant), Build(SampleValues(variant))) << variant;
}

TEST(LauncherCommandLine, ProxyFragmentStandsBetweenTwoPairsOfBlanks)
{
    LauncherCommandValues values = SampleValues();
    const wchar_t fragment[] = L" \"-Dde.tarvolin.windowsProxyServer=p:8080\" \"-Dde.tarvolin.windowsProxyBypass=\" ";
    values.proxyFragment = fragment;
    std::wstring plain = PlainLine(L"alda");
    std::wstring javaw = L"\"C:\\c\\zentrixjre\\jre\\bin\\javaw\"";
    EXPECT_EQ(javaw + L" " + fragment + plain.substr(javaw.size()), Build(values));
    EXPECT_NE(std::wstring::npos, Build(values).find(L"\"  \"-Dde.tarvolin.windowsProxyServer=p:8080\" "
                                                     L"\"-Dde.tarvolin.windowsProxyBypass=\"  \"-Djava."));

    // A fragment that is a single blank stands between the format's own two blanks.
    values.proxyFragment = L" ";
    EXPECT_EQ(javaw + L"   " + plain.substr(javaw.size() + 1), Build(values));
}

TEST(LauncherCommandLine, LongValuesAreCutAtTheirPropertyLimitBeforeQuoting)
{
    std::wstring longArgument = L"alda" + std::wstring(300, L'u');
    std::wstring longPath = L"C:\\" + std::wstring(400, L'p');
    LauncherCommandValues values = SampleValues();
    values.launchArgument = longArgument.c_str();
    values.cacheFolder = longPath.c_str();
    values.runtimeSourceUrl = longPath.c_str();
    values.variantName = longPath.c_str();
    values.launchExe = longPath.c_str();
    values.localLowPath = longPath.c_str();
    values.roamingPath = longPath.c_str();
    std::vector<std::wstring> split = SplitCommandLine(Build(values));
    ASSERT_EQ(12u, split.size());
    EXPECT_EQ(L"-Dde.tarvolin.launchURL=" + longArgument.substr(0, 231), split[2]);
    EXPECT_EQ(255u, split[2].size());
    EXPECT_EQ(99u, split[3].size());
    EXPECT_EQ(299u, split[4].size());
    EXPECT_EQ(299u, split[5].size());
    EXPECT_EQ(255u, split[6].size());
    EXPECT_EQ(359u, split[7].size());
    EXPECT_EQ(359u, split[8].size());

    // A cut that ends in a backslash still leaves one whole argument.
    std::wstring backslashes = L"a.kvnlp" + std::wstring(300, L'\\');
    values.launchArgument = backslashes.c_str();
    split = SplitCommandLine(Build(values));
    ASSERT_EQ(12u, split.size());
    EXPECT_EQ(L"-Dde.tarvolin.launchURL=" + backslashes.substr(0, 231), split[2]);
}

TEST(LauncherCommandLine, InjectedQuotesAndBackslashesStayInsideTheirArgument)
{
    const wchar_t* arguments[] = {L"x.kvnlp\" -javaagent:C:\\evil.jar \"y\\", L"x.kvnlp\\", L"\"",
                                  L"a\\\"b.kvbnlp\\\\"};
    for (const wchar_t* argument : arguments) {
        LauncherCommandValues values = SampleValues();
        values.launchArgument = argument;
        values.cacheFolder = L"C:\\c\\zentrix\"jre\\";
        std::vector<std::wstring> split = SplitCommandLine(Build(values));
        ASSERT_EQ(12u, split.size()) << argument;
        EXPECT_EQ(std::wstring(L"-Dde.tarvolin.launchURL=") + argument, split[2]);
        EXPECT_EQ(L"-Dde.tarvolin.jreCacheBasePath=C:\\c\\zentrix\"jre\\", split[5]);
        EXPECT_EQ(L"-jar", split[9]);
        EXPECT_EQ(L"C:\\t\\TPL0.tmp", split[11]);
    }
}

TEST(LauncherCommandLine, LeavesOffWholeArgumentsThatDoNotFit)
{
    wchar_t line[200];
    EXPECT_FALSE(BuildLauncherCommandLine(SampleValues(), line, 200));
    std::vector<std::wstring> split = SplitCommandLine(line);
    EXPECT_EQ(L"C:\\c\\zentrixjre\\jre\\bin\\javaw", split[0]);
    EXPECT_EQ(L'"', line[wcslen(line) - 1]);
    EXPECT_LT(wcslen(line), 200u);
}

// Which paths reach Java as written (else javaw gets their short form): code page 1252 is Western
// Europe's, 1250 Central Europe's, 932 Japan's.
TEST(JavaPaths, APathSurvivesItsCodePageOnlyWithoutLookAlikesOrLostCharacters)
{
    struct Case {
        const wchar_t* path;
        unsigned codePage;
        bool survives;
    } cases[] = {
        {L"C:\\Users\\Anna\\AppData\\Local\\tarvolin\\zentrixjre", 1252, true},
        {L"C:\\Users\\J\u00fcrgen M\u00fcller\\x.jar", 1252, true},
        {L"C:\\Users\\Mih\u0103il\u0103\\x.jar", 1252, false}, // best fit would make it "Mihaila"
        {L"C:\\Users\\Mih\u0103il\u0103\\x.jar", 1250, true},
        {L"C:\\Users\\\u0141ukasz\\x.jar", 1252, false},
        {L"C:\\Users\\\u0218tefan\\x.jar", 1250, false}, // comma below: 1250 has only the cedilla form
        {L"C:\\Users\\\u7530\u4e2d\\x.jar", 1252, false},
        {L"C:\\Users\\\u7530\u4e2d\\x.jar", 932, true},
        {L"C:\\Users\\\u7530\u4e2d\\x.jar", 65001, true},
        {L"C:\\Users\\who?\\x.jar", 1252, true}, // a '?' of its own is not a lost character
        {L"", 1252, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.survives, SurvivesCodePage(c.path, c.codePage)) << c.codePage << " " << testing::PrintToString(std::wstring(c.path));
}
