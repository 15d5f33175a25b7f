// Runs the program's release check once on a version file and a pack, with a given key, and
// reports the verdict and how long it took: release_check KEYHEX|none VERSIONFILE PACK [LOG]
// KEYHEX is the raw X||Y of the P-256 public key as 128 hex digits; "none" checks as a program
// built without a key. Prints "ACCEPTED\t1" or "ACCEPTED\t0" and "SECONDS\t<the check alone>".
// A refusal's line goes to LOG (default: release_check.log next to PACK). Exit code 0 when
// accepted, 1 when refused, 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "app/state.h"
#include "log/format.h"
#include "provision/release_check.h"
#include "provision/release_rules.h"

namespace {

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool ReadKey(const wchar_t* hex, unsigned char* key)
{
    if (wcslen(hex) != 2 * kReleasePublicKeySize)
        return false;
    for (size_t i = 0; i < kReleasePublicKeySize; ++i) {
        int high = HexDigit(hex[2 * i]);
        int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        key[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    unsigned char key[kReleasePublicKeySize];
    bool keyless = arguments && count >= 4 && wcscmp(arguments[1], L"none") == 0;
    if (!arguments || count < 4 || (!keyless && !ReadKey(arguments[1], key))) {
        fputs("usage: release_check KEYHEX|none VERSIONFILE PACK [LOG]\n", stderr);
        return 2;
    }
    ResetLauncherState();
    if (count > 4) {
        BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", arguments[4]);
    } else {
        BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", arguments[3]);
        wchar_t* slash = wcsrchr(launcherState.logFilePath, L'\\');
        size_t used = slash ? static_cast<size_t>(slash + 1 - launcherState.logFilePath) : 0;
        BoundedFormat(launcherState.logFilePath + used, kPathCapacity - used, L"release_check.log");
    }

    LARGE_INTEGER frequency = {}, before = {}, after = {};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    bool accepted = CheckRuntimePackWithKey(arguments[2], arguments[3], keyless ? nullptr : key);
    QueryPerformanceCounter(&after);

    printf("ACCEPTED\t%d\n", accepted ? 1 : 0);
    printf("SECONDS\t%.6f\n", double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart));
    fflush(stdout);
    LocalFree(arguments);
    return accepted ? 0 : 1;
}
