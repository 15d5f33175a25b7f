#include "log/warnings.h"

#include <windows.h>

#include "log/format.h"

namespace {

// Written and shown by the launch worker only.
wchar_t heldTexts[kHeldWarningLimit][kHeldWarningCapacity];
int heldCount = 0;

} // namespace

void HoldWarning(const wchar_t* text)
{
    if (heldCount >= kHeldWarningLimit)
        return;
    BoundedFormat(heldTexts[heldCount], kHeldWarningCapacity, L"%s", text);
    ++heldCount;
}

void ShowHeldWarnings()
{
    for (int i = 0; i < heldCount; ++i)
        MessageBoxW(nullptr, heldTexts[i], L"tarvolin Launcher Fehler", MB_OK | MB_ICONWARNING);
    heldCount = 0;
}
