// The splash window: a borderless 570 x 333 window with the splash image, an endless progress
// bar, the variant title and a footer line. Its message loop is the program's main loop.
#pragma once

#include <windows.h>

// Registers the class, creates the centred window (which starts the worker) and runs the loop.
void RunSplashWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PaintSplash(HWND window);
// One frame into a device context: image, bar (then the next progress value), footer, title.
// Every GDI object it makes is released before it returns.
void DrawSplashFrame(HDC dc);

// Width in pixels of the bar drawn for a progress value of 0 to 1000.
int SplashBarWidth(int progress);
// The progress value of the next frame.
int NextSplashProgress(int progress);
// Title text and footer format for the variant.
const wchar_t* SplashTitle(bool secondVariant);
const wchar_t* SplashFooterFormat(bool secondVariant);
