// Calls the program's own runtime-pack download and release check once and reports how long each
// took: pack_bench HOST PATH VERSIONFILE KEYHEX|none FOLDER
// With a key, the pack is hashed while it downloads (as the program does when the check will need
// the digest) and then checked, first with that digest and then reading the pack again, as the
// check did before; with "none", the pack is only downloaded. The pack, its partial files and the
// log go into FOLDER. Prints (one "NAME\tvalue" line each) RESULT (1: downloaded and, with a key,
// accepted), DOWNLOAD_SECONDS, DIGEST_KNOWN, CHECK_SECONDS and REREAD_CHECK_SECONDS.
// Exit code 0 when RESULT is 1, 1 otherwise, 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "net/pack_download.h"
#include "provision/release_check.h"

#include "key_hex.h"

namespace {

double Seconds(const LARGE_INTEGER& before, const LARGE_INTEGER& after)
{
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    return double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    unsigned char key[kReleasePublicKeySize];
    bool keyed = count == 6 && wcscmp(arguments[4], L"none") != 0;
    if (!arguments || count != 6 || (keyed && !ReadKeyHex(arguments[4], key))) {
        fputs("usage: pack_bench HOST PATH VERSIONFILE KEYHEX|none FOLDER\n", stderr);
        return 2;
    }
    ResetLauncherState();
    LauncherState& s = launcherState;
    const wchar_t* folder = arguments[5];
    BoundedFormat(s.downloadHost, kPathCapacity, L"%s", arguments[1]);
    BoundedFormat(s.cacheFolder, kPathCapacity, L"%s", folder);
    BoundedFormat(s.partialPackFile, kPathCapacity, L"%s\\jre_pack.part", folder);
    BoundedFormat(s.partialPackMetaFile, kPathCapacity, L"%s\\jre_pack.part.meta", folder);
    BoundedFormat(s.runtimePackFile, kPathCapacity, L"%s\\jre_pack.exe", folder);
    BoundedFormat(s.logFilePath, kPathCapacity, L"%s\\pack_bench.log", folder);

    LARGE_INTEGER started = {}, downloaded = {}, checked = {}, rechecked = {};
    PackRoom room = {};
    FileDigest digest = {};
    QueryPerformanceCounter(&started);
    int result = DownloadRuntimePack(arguments[2], s.runtimePackFile, 0, nullptr, nullptr, &room, keyed ? &digest : nullptr) == kPackDownloaded;
    QueryPerformanceCounter(&downloaded);
    checked = rechecked = downloaded;
    if (result && keyed) {
        result = CheckRuntimePackWithKey(arguments[3], s.runtimePackFile, key, &digest);
        QueryPerformanceCounter(&checked);
        CheckRuntimePackWithKey(arguments[3], s.runtimePackFile, key, nullptr);
        QueryPerformanceCounter(&rechecked);
    }
    printf("RESULT\t%d\nDOWNLOAD_SECONDS\t%.6f\nDIGEST_KNOWN\t%d\nCHECK_SECONDS\t%.6f\nREREAD_CHECK_SECONDS\t%.6f\n",
           result, Seconds(started, downloaded), digest.known ? 1 : 0, Seconds(downloaded, checked),
           Seconds(checked, rechecked));
    fflush(stdout);
    LocalFree(arguments);
    return result ? 0 : 1;
}
