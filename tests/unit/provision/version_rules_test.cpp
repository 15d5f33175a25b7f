#include <gtest/gtest.h>

#include <string>

#include "provision/version_rules.h"
#include "version_texts.h"

TEST(VersionRules, TextsOfVersionFiles)
{
    for (const VersionText& c : VersionTexts()) {
        EXPECT_EQ(c.number, ParseVersionText(c.text.c_str())) << c.text.substr(0, 40);
        // A text holds a number exactly when its reading stops after a digit.
        std::string head = c.text.c_str();
        size_t start = head.find_first_not_of(" \t\n\v\f\r");
        bool digit = start != std::string::npos && head.find_first_of("0123456789", start) ==
                                                       start + (head[start] == '+' || head[start] == '-' ? 1 : 0);
        EXPECT_EQ(digit, VersionTextHasNumber(c.text.c_str())) << c.text.substr(0, 40);
    }
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
