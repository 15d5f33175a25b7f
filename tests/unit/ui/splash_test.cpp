#include <windows.h>

#include <gtest/gtest.h>

#include "base/state.h"
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

namespace {

// Where the platform counts a process's GDI objects, that count. Wine answers 0, so there the
// highest slot of the handle table stands in: slots are reused last-freed-first, so a fresh
// object lands in the same slot again unless earlier objects were never released.
unsigned GdiHighWaterMark()
{
    DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted)
        return counted;
    HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
    unsigned slot = static_cast<unsigned>(reinterpret_cast<UINT_PTR>(probe) & 0xFFFF);
    DeleteObject(probe);
    return slot;
}

} // namespace

TEST(SplashPainting, ThousandsOfFramesLeaveTheGdiObjectCountFlat)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, 570, 333);
    HGDIOBJ previousTarget = SelectObject(dc, target);
    launcherState.splashBitmap = CreateCompatibleBitmap(screen, 570, 333);
    launcherState.progress = 0;

    for (int frame = 0; frame < 20; ++frame)
        DrawSplashFrame(dc);
    unsigned before = GdiHighWaterMark();
    for (int frame = 0; frame < 3000; ++frame)
        DrawSplashFrame(dc);
    unsigned after = GdiHighWaterMark();
    EXPECT_EQ(before, after);
    EXPECT_GE(launcherState.progress, 0);
    EXPECT_LE(launcherState.progress, 1000);

    DeleteObject(launcherState.splashBitmap);
    launcherState.splashBitmap = nullptr;
    SelectObject(dc, previousTarget);
    DeleteObject(target);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}
