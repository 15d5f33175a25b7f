#include <gtest/gtest.h>
#include <wchar.h>

#include "log/format.h"

TEST(BoundedFormat, FollowsWindowsWidePrintfRules)
{
    wchar_t field[64];
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 64, L"%s|%d|%u", L"wide", -5, 4000000000u));
    EXPECT_STREQ(L"wide|-5|4000000000", field);
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 64, L"%s %s", static_cast<const wchar_t*>(nullptr), L"x"));
    EXPECT_STREQ(L"(null) x", field);
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 64, L"%hs/%S", "narrow", "too"));
    EXPECT_STREQ(L"narrow/too", field);
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 64, L"[%5d][%-4s][%03d][%x][%%]", 42, L"ab", 7, 255));
    EXPECT_STREQ(L"[   42][ab  ][007][ff][%]", field);
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 64, L"%d", static_cast<int>(0x80000000u)));
    EXPECT_STREQ(L"-2147483648", field);
}

TEST(BoundedFormat, CutsAtCapacityMinusOneAndReportsIt)
{
    wchar_t text[201];
    wmemset(text, L'a', 200);
    text[200] = 0;
    wchar_t field[130];
    wmemset(field, L'#', 130);
    EXPECT_EQ(kFormatCut, BoundedFormat(field, 130, L"%s", text));
    EXPECT_EQ(129u, wcslen(field));

    text[129] = 0;
    EXPECT_EQ(kFormatOk, BoundedFormat(field, 130, L"%s", text));
    EXPECT_EQ(129u, wcslen(field));

    text[129] = L'a';
    text[130] = 0; // 130 characters: one too many
    EXPECT_EQ(kFormatCut, BoundedFormat(field, 130, L"%s", text));
}

TEST(BoundedFormat, RefusesZeroAndHugeCapacity)
{
    wchar_t field[4] = {L'k', 0, 0, 0};
    EXPECT_EQ(kFormatBadCapacity, BoundedFormat(field, 0, L"x"));
    EXPECT_EQ(kFormatBadCapacity, BoundedFormat(field, size_t(2147483648u), L"x"));
    EXPECT_EQ(L'k', field[0]);
    EXPECT_EQ(kFormatCut, BoundedFormat(field, 1, L"x"));
    EXPECT_EQ(0, field[0]);
}
