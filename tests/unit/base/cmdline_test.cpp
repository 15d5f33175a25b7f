#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/cmdline.h"
#include "test_helpers.h"

namespace {

std::wstring Quote(const wchar_t* value)
{
    wchar_t out[512];
    size_t needed = QuoteCommandLineArgument(value, out, 512);
    EXPECT_EQ(needed, wcslen(out));
    return out;
}

} // namespace

TEST(QuoteCommandLineArgument, WritesTheEscapesOfTheWindowsRules)
{
    EXPECT_EQ(L"\"plain value\"", Quote(L"plain value"));
    EXPECT_EQ(L"\"C:\\a\\b.exe\"", Quote(L"C:\\a\\b.exe"));
    EXPECT_EQ(L"\"\"", Quote(L""));
    EXPECT_EQ(L"\"\"", Quote(nullptr));
    EXPECT_EQ(L"\"a\\\"b\"", Quote(L"a\"b"));
    EXPECT_EQ(L"\"C:\\dir\\\\\"", Quote(L"C:\\dir\\"));
    EXPECT_EQ(L"\"x\\\\\\\"y\"", Quote(L"x\\\"y"));
    EXPECT_EQ(L"\"\\\\server\\share\\\\\"", Quote(L"\\\\server\\share\\"));
}

TEST(QuoteCommandLineArgument, EveryValueComesBackAsOneArgument)
{
    const wchar_t* values[] = {L"plain", L"", L"with blank", L"a\"quote", L"trailing\\", L"both\\\"x\\",
                               L"\\\\server\\share\\", L"x\" -javaagent:evil.jar \"", L"\\\"\\\\\"", L"tab\there",
                               L"\"", L"\\", L"\\\\\"\"", L"-Dde.tarvolin.launchURL=a.kvnlp\" \"-Xmx1m\\"};
    wchar_t line[2048] = L"prog.exe";
    for (const wchar_t* value : values) {
        wcscat(line, L" ");
        ASSERT_TRUE(AppendQuotedArgument(line, 2048, value));
    }
    std::vector<std::wstring> split = SplitCommandLine(line);
    ASSERT_EQ(std::size(values) + 1, split.size());
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(values[i], split[i + 1]);
}

TEST(QuoteCommandLineArgument, ShortBufferKeepsWholeEscapesAndTellsTheLengthNeeded)
{
    wchar_t out[8];
    wmemset(out, L'#', 8);
    EXPECT_EQ(12u, QuoteCommandLineArgument(L"ab\"cd\"ef", out, 5));
    // "ab then \" would need two more characters than the four that fit: it is left off whole.
    EXPECT_STREQ(L"\"ab", out);
    EXPECT_EQ(L'#', out[5]);

    EXPECT_EQ(7u, QuoteCommandLineArgument(L"abcde", out, 7));
    EXPECT_STREQ(L"\"abcde", out);
    EXPECT_EQ(7u, QuoteCommandLineArgument(L"abcde", out, 8));
    EXPECT_STREQ(L"\"abcde\"", out);

    out[0] = L'#';
    EXPECT_EQ(2u, QuoteCommandLineArgument(L"", out, 0));
    EXPECT_EQ(L'#', out[0]);
    EXPECT_EQ(2u, QuoteCommandLineArgument(L"", out, 1));
    EXPECT_STREQ(L"", out);
}

TEST(QuoteCommandLineArgument, AppendingWhatDoesNotFitLeavesTheTextAlone)
{
    wchar_t out[16] = L"x ";
    EXPECT_TRUE(AppendQuotedArgument(out, 16, L"a\\b c"));
    EXPECT_STREQ(L"x \"a\\b c\"", out);
    EXPECT_FALSE(AppendQuotedArgument(out, 16, L"too long for it"));
    EXPECT_STREQ(L"x \"a\\b c\"", out);
    // Exactly filling the field, terminator included, still fits.
    wchar_t exact[6] = L"";
    EXPECT_TRUE(AppendQuotedArgument(exact, 6, L"abc"));
    EXPECT_STREQ(L"\"abc\"", exact);
}
