#include <windows.h>

#include "provision/delivered_pack.h"

#include "base/files.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/sha256.h"
#include "provision/install_rules.h"
#include "provision/release_check.h"
#include "provision/version_rules.h"

namespace {

enum : DWORD { kVersionHeadSize = 500 }; // what the version reader takes of a file

struct DeliveredRelease {
    wchar_t versionFile[kPathCapacity];
    wchar_t packFile[kPathCapacity];
};

bool DeliveredPaths(DeliveredRelease* release)
{
    const wchar_t* folder = launcherState.programFolder;
    return BoundedFormat(release->versionFile, kPathCapacity, L"%s\\runtime\\version.txt", folder) == kFormatOk &&
           BoundedFormat(release->packFile, kPathCapacity, L"%s\\runtime\\jre_pack.exe", folder) == kFormatOk;
}

// The number the delivered version file names; false when there is no such file (nothing was
// delivered, the common case) or it names no number.
bool DeliveredVersion(const wchar_t* path, int* version)
{
    char head[kVersionHeadSize + 1] = {};
    FileStart start;
    DWORD got = ReadFileStart(path, head, kVersionHeadSize, &start);
    head[got] = 0;
    if (!start.opened || start.error != 0 || !VersionTextHasNumber(head))
        return false;
    *version = ParseVersionText(head);
    return true;
}

bool DeliveredPackIsProgram(const wchar_t* path)
{
    unsigned char head[kProgramHeadSize];
    FileStart start;
    DWORD got = ReadFileStart(path, head, kProgramHeadSize, &start);
    if (!start.opened || start.error != 0) {
        LogSystemError(start.error, path);
        return false;
    }
    if (IsWindowsProgramImage(head, got))
        return true;
    LogPrintf(L"EnsureRuntime: %s ist kein Windows-Programm, das Runtime-Paket wird geladen", path);
    return false;
}

// The pack's size and digest, read only when the check will need them; false when they are
// needed and the pack cannot be read (the check then reads it and says why).
bool MeasureDeliveredPack(const wchar_t* path, const wchar_t* versionFile, FileDigest* digest)
{
    *digest = FileDigest{};
    if (!ReadPackExpectation(versionFile).needsDigest)
        return true;
    digest->known = HashFile(path, digest->sha256, &digest->size) == 0;
    return digest->known;
}

} // namespace

bool TakeDeliveredPack(int version, const wchar_t* versionFile, FileDigest* digest)
{
    DeliveredRelease delivered;
    int deliveredVersion = 0;
    if (!DeliveredPaths(&delivered) || !DeliveredVersion(delivered.versionFile, &deliveredVersion))
        return false;
    if (deliveredVersion != version) {
        LogPrintf(L"EnsureRuntime: %s nennt Version %d, installiert wird %d, das Runtime-Paket wird geladen",
                  delivered.versionFile, deliveredVersion, version);
        return false;
    }
    // The check logs its one line when it refuses, naming the delivered pack.
    if (!DeliveredPackIsProgram(delivered.packFile))
        return false;
    MeasureDeliveredPack(delivered.packFile, versionFile, digest);
    if (!CheckRuntimePack(versionFile, delivered.packFile, digest, nullptr, 0)) {
        *digest = FileDigest{}; // the download writes the pack afresh
        return false;
    }
    // Copied rather than run in place, so that the install goes on exactly as after a download:
    // the copy is checked again where it runs (against the digest just taken, as a download's is
    // against the digest taken while it arrived), staged, unpacked and kept in the cache.
    if (!CopyFileW(delivered.packFile, launcherState.runtimePackFile, FALSE)) {
        LogSystemError(GetLastError(), delivered.packFile);
        DeleteFileW(launcherState.runtimePackFile);
        *digest = FileDigest{};
        return false;
    }
    // A copy keeps the source's attributes: a read-only pack from a protected folder could be
    // neither replaced nor deleted in the cache later.
    SetFileAttributesW(launcherState.runtimePackFile, FILE_ATTRIBUTE_NORMAL);
    LogPrintf(L"EnsureRuntime: Runtime-Paket %s wird verwendet, kein Download", delivered.packFile);
    return true;
}
