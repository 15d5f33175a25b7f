#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>

#include "provision/runtime.h"
#include "provision/version_rules.h"

namespace {

std::wstring WriteTempFile(const std::string& bytes)
{
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"ver", 0, path);
    FILE* file = _wfopen(path, L"wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
}

int ReadVersionOf(const std::string& bytes)
{
    std::wstring path = WriteTempFile(bytes);
    int version = ReadVersionNumber(path.c_str());
    DeleteFileW(path.c_str());
    return version;
}

} // namespace

TEST(VersionText, ConvertsLikeTheServerWritesIt)
{
    EXPECT_EQ(12, ParseVersionText(" 12\n"));
    EXPECT_EQ(12, ParseVersionText("12abc"));
    EXPECT_EQ(0, ParseVersionText("abc"));
    EXPECT_EQ(-3, ParseVersionText("-3"));
    EXPECT_EQ(7, ParseVersionText("\t\r\n\v\f+7"));
    EXPECT_EQ(0, ParseVersionText(""));
    EXPECT_EQ(0, ParseVersionText("- 3"));
    EXPECT_EQ(2147483647, ParseVersionText(std::string(700, '9').c_str()));
    EXPECT_EQ(2147483647, ParseVersionText("2147483648"));
    EXPECT_EQ(-2147483647 - 1, ParseVersionText("-99999999999"));
}

TEST(VersionText, RuntimeIsCurrentOnlyWhenAllFourHold)
{
    EXPECT_TRUE(RuntimeIsCurrent(true, false, 5, 5, true));
    EXPECT_TRUE(RuntimeIsCurrent(true, false, 4, 5, true)); // a lower server number never installs
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 6, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(false, false, 5, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(true, true, 5, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 5, 5, false));
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 0, -1, true));
}

TEST(VersionFile, ReadsOnlyTheBeginningAndMissingFilesGiveMinusOne)
{
    EXPECT_EQ(12, ReadVersionOf(" 12\n"));
    EXPECT_EQ(0, ReadVersionOf(""));
    EXPECT_EQ(2147483647, ReadVersionOf(std::string(700, '9')));
    EXPECT_EQ(-1, ReadVersionNumber(L"C:\\no\\such\\version.txt"));
    // Five pieces of 100 bytes end the reading: a digit at byte 600 is never seen.
    EXPECT_EQ(0, ReadVersionOf(std::string(599, ' ') + "5"));
    EXPECT_EQ(5, ReadVersionOf(std::string(498, ' ') + "5"));
}
