#include <gtest/gtest.h>

#include <string>

#include "provision/rollout_rules.h"

TEST(RolloutRules, WhichDesktopsTakeAStagedReleaseAndTheNumberEachKeeps)
{
    struct { bool wholeRuntime, forced; unsigned number, percent; bool heldBack; } cases[] = {
        {true, false, 29, 30, false}, {true, false, 30, 30, true},   {true, false, 0, 0, true},
        {true, false, 99, 100, false}, {false, false, 99, 0, false}, {true, true, 99, 0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.heldBack, RolloutHoldsBack(c.wholeRuntime, c.forced, c.number, c.percent)) << c.number;

    char text[kDesktopNumberTextCapacity];
    unsigned number = 1000;
    for (unsigned kept : {0u, 7u, 99u})
        EXPECT_TRUE(ParseDesktopNumber(text, FormatDesktopNumber(kept, text, sizeof text), &number) && number == kept);
    EXPECT_TRUE(ParseDesktopNumber("42\n", 3, &number) && number == 42);
    const std::string unreadable[] = {"", "100", "-1", " 4", "4 ", "4x", "\r\n", std::string("4\0", 2)};
    for (const std::string& bad : unreadable)
        EXPECT_FALSE(ParseDesktopNumber(bad.data(), bad.size(), &number)) << bad;

    const unsigned char bytes[] = {200, 255, 3}; // from 200 up a byte would favour the low numbers
    EXPECT_TRUE(DesktopNumberFromRandom(bytes, 3, &number) && number == 3);
}
