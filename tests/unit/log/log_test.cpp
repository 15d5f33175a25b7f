#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "log/log.h"

namespace {

std::string Compose(const wchar_t* time, const wchar_t* text, size_t size = kLogLineCapacity)
{
    std::string out(size, '#');
    size_t length = ComposeLogLine(time, text, &out[0], size);
    EXPECT_EQ(length, strlen(out.c_str()));
    out.resize(length);
    return out;
}

} // namespace

TEST(ComposeLogLine, WritesTimeSeparatorTextAndLineEndInLatin1)
{
    EXPECT_EQ("14:03:07: Start wWinMain:\r\n", Compose(L"14:03:07", L"Start wWinMain:"));
    EXPECT_EQ("14:03:07: \r\n", Compose(L"14:03:07", L""));
    EXPECT_EQ("t: unterst\xfctzt \xe4\xf6\xdf\r\n", Compose(L"t", L"unterst\u00fctzt \u00e4\u00f6\u00df"));
    EXPECT_EQ("t: (null)\r\n", Compose(L"t", nullptr));
}

TEST(ComposeLogLine, ReplacesCharactersAboveLatin1AndKeepsTheRest)
{
    EXPECT_EQ("t: a?b?c\r\n", Compose(L"t", L"a\u20acb\U0001F600c"));
}

TEST(ComposeLogLine, CutsLongTextButKeepsTheLineEnd)
{
    std::wstring text(5000, L'x');
    std::string line = Compose(L"12:00:00", text.c_str());
    EXPECT_EQ(4095u, line.size());
    EXPECT_EQ("\r\n", line.substr(line.size() - 2));
    EXPECT_EQ("12:00:00: xxx", line.substr(0, 13));

    std::wstring fits(4095 - 12, L'y'); // time 8 + ": " 2 + text + "\r\n" 2 = 4095
    EXPECT_EQ(4095u, Compose(L"12:00:00", fits.c_str()).size());
}
