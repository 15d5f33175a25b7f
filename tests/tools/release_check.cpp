// Runs the program's release check on version files and packs, with a given key, and reports each
// verdict and how long it took, in one process so a table of cases costs one Wine start:
//   release_check KEYHEX[,KEYHEX...]|none VERSIONFILE PACK LOG [... VERSIONFILE PACK LOG ...]
// KEYHEX is the raw X||Y of a P-256 public key as 128 hex digits (up to four, as a program built
// with several keys); "none" checks as a program built without a key. Prints one line "ACCEPTED\t<1 or 0>\tSECONDS\t<the check alone>" per
// group; a refusal's line goes to that group's LOG. Exit code 0, or 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "provision/release_check.h"
#include "provision/release_key.h"
#include "provision/release_rules.h"

#include "key_hex.h"

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 5 || (count - 1) % 4 != 0) {
        fputs("usage: release_check KEYHEX|none VERSIONFILE PACK LOG [KEYHEX|none VERSIONFILE PACK LOG ...]\n", stderr);
        return 2;
    }
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    for (int group = 1; group + 3 < count; group += 4) {
        unsigned char keys[kReleaseKeyLimit][kReleasePublicKeySize];
        size_t keyCount = 0;
        bool keyless = wcscmp(arguments[group], L"none") == 0;
        for (wchar_t* hex = keyless ? nullptr : arguments[group]; hex;) {
            wchar_t* comma = wcschr(hex, L',');
            if (comma)
                *comma = 0;
            if (keyCount == kReleaseKeyLimit || !ReadKeyHex(hex, keys[keyCount++])) {
                fputs("release_check: keys are up to four of 128 hex digits, or none\n", stderr);
                return 2;
            }
            hex = comma ? comma + 1 : nullptr;
        }
        ResetLauncherState();
        BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", arguments[group + 3]);
        LARGE_INTEGER before = {}, after = {};
        QueryPerformanceCounter(&before);
        bool accepted = CheckRuntimePackWithKeys(arguments[group + 1], arguments[group + 2], keys, keyCount, nullptr);
        QueryPerformanceCounter(&after);
        printf("ACCEPTED\t%d\tSECONDS\t%.6f\n", accepted ? 1 : 0,
               double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart));
    }
    fflush(stdout);
    LocalFree(arguments);
    return 0;
}
