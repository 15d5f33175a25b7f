#include <windows.h>

#include <bcrypt.h>

#include "provision/rollout.h"

#include "base/files.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "provision/rollout_rules.h"

namespace {

enum : unsigned {
    kRandomBytes = 16,    // all 16 rejected happens about once in 10^10 draws
    kDrawAttempts = 4,
    kLastDesktop = kDesktopNumberRange - 1, // last to take any staged release
};

enum : long { kNoUsableBytes = static_cast<long>(0xC0000001) }; // STATUS_UNSUCCESSFUL

bool NumberPath(wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\rollout-number.txt", launcherState.cacheFolder) == kFormatOk;
}

// A number from the system's preferred random generator. BCryptGenRandom with a null algorithm
// handle and BCRYPT_USE_SYSTEM_PREFERRED_RNG is documented from Windows 7 on ("BCryptGenRandom
// function", Microsoft Learn). Returns 0 or the failing status.
long DrawNumber(unsigned* number)
{
    unsigned char bytes[kRandomBytes];
    for (unsigned attempt = 0; attempt < kDrawAttempts; ++attempt) {
        NTSTATUS status = BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status != 0)
            return static_cast<long>(status);
        if (DesktopNumberFromRandom(bytes, sizeof bytes, number))
            return 0;
    }
    return kNoUsableBytes;
}

// The kept number; a missing or unreadable file is drawn again and kept. When nothing can be drawn
// the desktop counts as the last of the fleet, and the next start tries again.
unsigned DesktopNumber()
{
    wchar_t path[kPathCapacity];
    char text[kDesktopNumberTextCapacity];
    unsigned number = kLastDesktop;
    if (!NumberPath(path))
        return number;
    FileStart start;
    DWORD got = ReadFileStart(path, text, sizeof text, &start);
    if (start.opened && start.error == 0 && start.size == got && ParseDesktopNumber(text, got, &number))
        return number;
    long status = DrawNumber(&number);
    if (status != 0) {
        LogSystemError(static_cast<unsigned long>(status),
                       L"EnsureRuntime: keine Zufallszahl f\u00fcr die gestufte Verteilung");
        return kLastDesktop;
    }
    LogPrintf(L"EnsureRuntime: Nummer %u f\u00fcr die gestufte Verteilung gezogen%s", number,
              start.opened ? L" (die bisherige war unlesbar)" : L"");
    DWORD code = WriteWholeFile(path, text, static_cast<DWORD>(FormatDesktopNumber(number, text, sizeof text)));
    if (code)
        LogSystemError(code, path);
    return number;
}

} // namespace

bool RolloutHoldsBackThisDesktop(bool wholeRuntime)
{
    const LauncherState& s = launcherState;
    bool forced = s.forceDownload != FALSE;
    unsigned percent = s.announcement.rollout;
    // When even the last desktop would take it, no number is needed (and none is drawn).
    if (!RolloutHoldsBack(wholeRuntime, forced, kLastDesktop, percent))
        return false;
    unsigned number = DesktopNumber();
    if (!RolloutHoldsBack(wholeRuntime, forced, number, percent))
        return false;
    LogPrintf(L"EnsureRuntime: Version %d geht an %u %% der Arbeitspl\u00e4tze, dieser hat die Nummer %u und "
              L"bleibt bei Version %d",
              s.remoteVersion, percent, number, s.localVersion);
    return true;
}
