#include "log/warnings.h"

#include <windows.h>

#include "log/format.h"

namespace {

// Written and shown by the launch worker only.
wchar_t pendingTexts[kCacheWorkWarningLimit][kCacheWorkWarningCapacity];
int pendingCount = 0;
bool inCacheWork = false;

void ShowBox(const wchar_t* text)
{
    MessageBoxW(nullptr, text, L"tarvolin Launcher Fehler", MB_OK | MB_ICONWARNING);
}

} // namespace

void ShowWarning(const wchar_t* text)
{
    if (!inCacheWork) {
        ShowBox(text);
        return;
    }
    if (pendingCount >= kCacheWorkWarningLimit)
        return;
    BoundedFormat(pendingTexts[pendingCount], kCacheWorkWarningCapacity, L"%s", text);
    ++pendingCount;
}

void BeginCacheWork()
{
    inCacheWork = true;
}

void EndCacheWork()
{
    inCacheWork = false;
    for (int i = 0; i < pendingCount; ++i)
        ShowBox(pendingTexts[i]);
    pendingCount = 0;
}
