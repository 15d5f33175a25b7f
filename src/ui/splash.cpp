#include "ui/splash.h"

#include <math.h>

#include "base/state.h"
#include "layout/folders.h"
#include "log/format.h"
#include "log/log.h"
#include "worker/worker.h"

namespace {

const wchar_t kClassName[] = L"tarvolinWindowClass1";
const int kSplashWidth = 570;
const int kSplashHeight = 333;
const UINT_PTR kAnimationTimer = 1;
const COLORREF kTextColour = RGB(88, 88, 87);
// After the loop ends, how long the worker may take to leave: it posts its end and returns at
// once, and a process that ends while a thread is still leaving is ended by a signal under Wine.
// Short enough that an Escape during a download still ends the program without a visible delay.
const DWORD kWorkerExitWaitMs = 250;

// Kept only for that wait at the end; nothing else uses it.
HANDLE workerThread = nullptr;

HFONT CreateArialFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_DONTCARE, L"Arial");
}

// Draws text from (left, top) without clipping in a font made for this one call.
void DrawTextWithFont(HDC dc, const wchar_t* text, int height, int weight, RECT area)
{
    HFONT font = CreateArialFont(height, weight);
    HGDIOBJ previous = SelectObject(dc, font);
    SetTextColor(dc, kTextColour);
    DrawTextW(dc, text, -1, &area, DT_NOCLIP);
    SelectObject(dc, previous);
    DeleteObject(font);
}

void DrawSplashImage(HDC dc)
{
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, launcherState.splashBitmap);
    BITMAP image = {};
    GetObjectW(launcherState.splashBitmap, sizeof image, &image);
    BitBlt(dc, 0, 0, image.bmWidth, image.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void DrawProgressBar(HDC dc, int progress)
{
    RECT bar = {26, 263, 26 + SplashBarWidth(progress), 272};
    HBRUSH brush = CreateSolidBrush(RGB(0, 160, 160));
    FillRect(dc, &bar, brush);
    DeleteObject(brush);
}

void DrawFooter(HDC dc)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t footer[64];
    BoundedFormat(footer, 64, SplashFooterFormat(launcherState.secondVariant != 0), now.wYear);
    DrawTextWithFont(dc, footer, 15, FW_NORMAL, RECT{26, 292, 26, 292});
}

void DrawTitle(HDC dc)
{
    DrawTextWithFont(dc, SplashTitle(launcherState.secondVariant != 0), 60, FW_THIN, RECT{140, 30, 90, 300});
}

// Repaints image, bar and footer; the title above row 150 is painted only by full repaints.
void InvalidateLowerArea(HWND window)
{
    RECT area;
    GetClientRect(window, &area);
    area.top = 150;
    InvalidateRect(window, &area, FALSE);
}

void OnCreate(HWND window)
{
    launcherState.splashBitmap = LoadBitmapW(launcherState.instanceHandle, MAKEINTRESOURCEW(102));
    BuildPaths();
    SetTimer(window, kAnimationTimer, 20, nullptr);
    workerThread = CreateThread(nullptr, 0, LaunchWorker, nullptr, 0, nullptr);
}

} // namespace

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

void DrawSplashFrame(HDC dc)
{
    DrawSplashImage(dc);
    DrawProgressBar(dc, launcherState.progress);
    launcherState.progress = NextSplashProgress(launcherState.progress);
    DrawFooter(dc);
    DrawTitle(dc);
}

void PaintSplash(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawSplashFrame(dc);
    EndPaint(window, &paint);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    launcherState.splashWindow = window;
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        DeleteObject(launcherState.splashBitmap);
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintSplash(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYUP:
        if (wParam == VK_ESCAPE && !launcherState.extracting)
            PostQuitMessage(0);
        InvalidateLowerArea(window);
        break;
    case WM_TIMER:
        InvalidateLowerArea(window);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RunSplashWindow(HINSTANCE instance, int showCommand)
{
    WNDCLASSW windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = SplashWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);

    int x = (GetSystemMetrics(SM_CXSCREEN) - kSplashWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - kSplashHeight) / 2;
    HWND window = CreateWindowExW(0, kClassName, L"Zentrix", WS_POPUP | WS_VISIBLE | WS_SYSMENU, x, y,
                                  kSplashWidth, kSplashHeight, nullptr, nullptr, instance, nullptr);
    if (!window) {
        LogLine(L"Error: Window kann nicht ge\u00f6ffnet werden, Launcher wird beendet");
        return;
    }
    ShowWindow(window, showCommand);

    // GetMessageW answers -1 on failure; that ends the loop too instead of spinning.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    if (workerThread) {
        WaitForSingleObject(workerThread, kWorkerExitWaitMs);
        CloseHandle(workerThread);
        workerThread = nullptr;
    }
}
