#include <gtest/gtest.h>

#include <string>

#include "provision/version_rules.h"

TEST(VersionRules, TextsOfVersionFiles)
{
    EXPECT_EQ(12, ParseVersionText(" 12\n"));
    EXPECT_EQ(12, ParseVersionText("12abc"));
    EXPECT_EQ(0, ParseVersionText("abc"));
    EXPECT_EQ(-3, ParseVersionText("-3"));
    EXPECT_EQ(0, ParseVersionText(""));
    EXPECT_EQ(7, ParseVersionText("\t\n\v\f\r +7"));
    EXPECT_EQ(0, ParseVersionText("- 3"));
    EXPECT_EQ(0, ParseVersionText("+-3"));
    EXPECT_EQ(0, ParseVersionText("\xa0" "5")); // only the six ASCII spaces are skipped
    EXPECT_EQ(12, ParseVersionText("12 13"));
    EXPECT_EQ(0, ParseVersionText("-0"));
}

TEST(VersionRules, NumbersOutsideTheSigned32BitRangeAreClamped)
{
    EXPECT_EQ(2147483647, ParseVersionText(std::string(700, '9').c_str()));
    EXPECT_EQ(2147483647, ParseVersionText("2147483647"));
    EXPECT_EQ(2147483647, ParseVersionText("2147483648"));
    EXPECT_EQ(-2147483647 - 1, ParseVersionText("-2147483648"));
    EXPECT_EQ(-2147483647 - 1, ParseVersionText("-2147483649"));
    EXPECT_EQ(-2147483647 - 1, ParseVersionText(("-" + std::string(700, '1')).c_str()));
    EXPECT_EQ(2147483647, ParseVersionText(("000000000000" + std::string("2147483647")).c_str()));
}

TEST(VersionRules, RuntimeIsCurrentOnlyWhenAllFourHold)
{
    // Arguments: bin folder, forceDownload, remote, local, marker.
    EXPECT_TRUE(RuntimeIsCurrent(true, false, 5, 5, true));
    EXPECT_TRUE(RuntimeIsCurrent(true, false, 4, 5, true)) << "a lower server number never installs by itself";
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 6, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(false, false, 5, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 5, 5, false));
    EXPECT_FALSE(RuntimeIsCurrent(true, true, 5, 5, true));
    EXPECT_FALSE(RuntimeIsCurrent(true, true, 4, 5, true));
}

TEST(VersionRules, MissingAndEmptyVersionFilesInTheComparison)
{
    // No local file (-1) installs for any server number from 0 up.
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 0, -1, true));
    // An unreachable server leaves an empty file (0): an installed runtime from 0 up stays.
    EXPECT_TRUE(RuntimeIsCurrent(true, false, 0, 0, true));
    // A server file that could not be created reads -1: nothing installs over an existing one.
    EXPECT_TRUE(RuntimeIsCurrent(true, false, -1, -1, true));
    // Signed comparison: a negative server number is lower, not higher.
    EXPECT_TRUE(RuntimeIsCurrent(true, false, -2147483647 - 1, 2147483647, true));
    EXPECT_FALSE(RuntimeIsCurrent(true, false, 2147483647, -2147483647 - 1, true));
}
