#include <gtest/gtest.h>

#include <string>

#include "provision/rollout_rules.h"

TEST(RolloutRules, WhichDesktopsTakeAStagedRelease)
{
    struct {
        bool wholeRuntime;
        bool forced;
        unsigned number;
        unsigned percent;
        bool heldBack;
    } cases[] = {
        {true, false, 29, 30, false}, {true, false, 30, 30, true},  {true, false, 0, 0, true},
        {true, false, 99, 100, false}, {false, false, 99, 0, false}, {true, true, 99, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.heldBack, RolloutHoldsBack(c.wholeRuntime, c.forced, c.number, c.percent))
            << c.number << " at " << c.percent << (c.wholeRuntime ? "" : " without runtime");
    // Raising the share only adds desktops; nobody who took it at a share is left out at a higher one.
    for (unsigned number = 0; number < kDesktopNumberRange; ++number)
        for (unsigned percent = 0; percent < 100; ++percent)
            EXPECT_LE(RolloutHoldsBack(true, false, number, percent + 1), RolloutHoldsBack(true, false, number, percent));
}

TEST(RolloutRules, TheKeptNumberReadsBackAndAnythingElseIsDrawnAgain)
{
    char text[kDesktopNumberTextCapacity];
    unsigned number = 1000;
    for (unsigned kept : {0u, 7u, 99u}) {
        size_t length = FormatDesktopNumber(kept, text, sizeof text);
        EXPECT_TRUE(ParseDesktopNumber(text, length, &number) && number == kept) << kept;
    }
    EXPECT_EQ(0u, FormatDesktopNumber(100, text, sizeof text));
    EXPECT_TRUE(ParseDesktopNumber("42\n", 3, &number) && number == 42);
    const std::string unreadable[] = {"", "100", "-1", " 4", "4 ", "4x", "\r\n", std::string("4\0", 2)};
    for (const std::string& bad : unreadable)
        EXPECT_FALSE(ParseDesktopNumber(bad.data(), bad.size(), &number)) << bad;

    // Bytes from 200 up are passed over, so every number has the same two bytes behind it.
    const unsigned char bytes[] = {255, 200, 199, 3};
    EXPECT_TRUE(DesktopNumberFromRandom(bytes, 4, &number) && number == 99);
    EXPECT_FALSE(DesktopNumberFromRandom(bytes, 2, &number));
    unsigned counts[kDesktopNumberRange] = {};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned char b = static_cast<unsigned char>(byte);
        if (DesktopNumberFromRandom(&b, 1, &number))
            ++counts[number];
    }
    for (unsigned count : counts)
        EXPECT_EQ(2u, count);
}
