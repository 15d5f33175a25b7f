#include "ui/splash.h"

#include <math.h>

#include "app/folders.h"
#include "app/state.h"
#include "log/log.h"
#include "worker/worker.h"

int SplashBarWidth(int progress)
{
    return static_cast<int>(ceil(progress / 1000.0 * 517.0));
}

int NextSplashProgress(int progress)
{
    progress += 20;
    return progress > 1000 ? 0 : progress;
}

const wchar_t* SplashTitle(bool secondVariant)
{
    return secondVariant ? L"berk" : L"alda";
}

const wchar_t* SplashFooterFormat(bool secondVariant)
{
    return secondVariant ? L"\u00a9 %d tarvolin \u00b7 berk" : L"\u00a9 %d tarvolin \u00b7 alda";
}

void PaintSplash(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    launcherState.splashWindow = window;
    switch (message) {
    case WM_CREATE:
        BuildPaths();
        CreateThread(nullptr, 0, LaunchWorker, nullptr, 0, nullptr);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintSplash(window);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_ESCAPE && !launcherState.extracting)
            PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RunSplashWindow(HINSTANCE instance, int showCommand)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SplashWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"tarvolinWindowClass1";
    RegisterClassW(&windowClass);
    int x = (GetSystemMetrics(SM_CXSCREEN) - 570) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - 333) / 2;
    HWND window = CreateWindowExW(0, L"tarvolinWindowClass1", L"Zentrix", WS_POPUP | WS_VISIBLE | WS_SYSMENU, x, y,
                                  570, 333, nullptr, nullptr, instance, nullptr);
    if (!window) {
        LogLine(L"Error: Window kann nicht ge\u00f6ffnet werden, Launcher wird beendet");
        return;
    }
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
