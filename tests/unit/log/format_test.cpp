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

TEST(BoundedAppend, AppendsBehindTheTextCutsAndRefusesAnUnterminatedField)
{
    struct {
        const wchar_t* before;
        size_t capacity;
        const wchar_t* text;
        unsigned result;
        const wchar_t* after;
    } cases[] = {
        {L"ab", 8, L"cd", kFormatOk, L"abcd"},
        {L"ab", 5, L"cd", kFormatOk, L"abcd"},   // exactly full
        {L"ab", 4, L"cd", kFormatCut, L"abc"},   // cut at capacity - 1
        {L"abc", 4, L"d", kFormatCut, L"abc"},   // no room left at all
        {L"", 3, nullptr, kFormatOk, L""},       // null appends nothing
        {L"ab", 8, L"", kFormatOk, L"ab"},
    };
    for (const auto& c : cases) {
        wchar_t field[8];
        wmemset(field, L'#', 8);
        wmemcpy(field, c.before, wcslen(c.before) + 1);
        EXPECT_EQ(c.result, BoundedAppend(field, c.capacity, c.text)) << c.before << "+" << c.capacity;
        EXPECT_STREQ(c.after, field) << c.before << "+" << c.capacity;
        EXPECT_EQ(L'#', field[7]) << "nothing written behind the capacity";
    }
    wchar_t unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(kFormatBadCapacity, BoundedAppend(unterminated, 4, L"x"));
    EXPECT_EQ(L'd', unterminated[3]);
    EXPECT_EQ(kFormatBadCapacity, BoundedAppend(unterminated, 0, L"x"));
}
