// Runs the program's release check on version files and packs, with a given key, and reports each
// verdict and how long it took, in one process so a table of cases costs one Wine start:
//   release_check KEYHEX|none VERSIONFILE PACK LOG [KEYHEX|none VERSIONFILE PACK LOG ...]
// KEYHEX is the raw X||Y of the P-256 public key as 128 hex digits; "none" checks as a program
// built without a key. Prints one line "ACCEPTED\t<1 or 0>\tSECONDS\t<the check alone>" per
// group; a refusal's line goes to that group's LOG. Exit code 0, or 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "provision/release_check.h"
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
        unsigned char key[kReleasePublicKeySize];
        bool keyless = wcscmp(arguments[group], L"none") == 0;
        if (!keyless && !ReadKeyHex(arguments[group], key)) {
            fputs("release_check: a key is 128 hex digits or none\n", stderr);
            return 2;
        }
        ResetLauncherState();
        BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", arguments[group + 3]);
        LARGE_INTEGER before = {}, after = {};
        QueryPerformanceCounter(&before);
        bool accepted = CheckRuntimePackWithKey(arguments[group + 1], arguments[group + 2], keyless ? nullptr : key, nullptr);
        QueryPerformanceCounter(&after);
        printf("ACCEPTED\t%d\tSECONDS\t%.6f\n", accepted ? 1 : 0,
               double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart));
    }
    fflush(stdout);
    LocalFree(arguments);
    return 0;
}
