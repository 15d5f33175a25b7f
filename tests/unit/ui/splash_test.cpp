#include <gtest/gtest.h>

#include "ui/splash.h"

TEST(SplashAnimation, BarWidthsOfASweepRoundUpAndWrapAfterTheFullBar)
{
    int progress = 0;
    int widths[5];
    for (int& width : widths) {
        width = SplashBarWidth(progress);
        progress = NextSplashProgress(progress);
    }
    EXPECT_EQ(0, widths[0]);
    EXPECT_EQ(11, widths[1]);
    EXPECT_EQ(21, widths[2]);
    EXPECT_EQ(32, widths[3]);
    EXPECT_EQ(42, widths[4]);

    int frames = 0;
    for (progress = 0; progress != 1000; progress = NextSplashProgress(progress))
        ++frames;
    EXPECT_EQ(50, frames); // 51 positions per sweep
    EXPECT_EQ(517, SplashBarWidth(1000));
    EXPECT_EQ(0, NextSplashProgress(1000));
    EXPECT_EQ(0, SplashBarWidth(NextSplashProgress(1000)));
}

TEST(SplashTexts, TitleAndFooterFollowTheVariant)
{
    EXPECT_STREQ(L"berk", SplashTitle(true));
    EXPECT_STREQ(L"alda", SplashTitle(false));
    EXPECT_STREQ(L"\u00a9 %d tarvolin \u00b7 berk", SplashFooterFormat(true));
    EXPECT_STREQ(L"\u00a9 %d tarvolin \u00b7 alda", SplashFooterFormat(false));
}
