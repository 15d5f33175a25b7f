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
enum : size_t { kReasonCapacity = 128 };

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

// What a refusal leads to: the download, or without the server's version file no install.
const wchar_t* Otherwise(bool offline)
{
    return offline ? L"keine Installation" : L"das Runtime-Paket wird geladen";
}

bool DeliveredPackIsProgram(const wchar_t* path, bool offline)
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
    LogPrintf(L"EnsureRuntime: %s ist kein Windows-Programm, %s", path, Otherwise(offline));
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

// The delivered version file's first bytes, as the release check reads a version file; false when
// there is none. A file that is there but cannot be read counts as delivered, naming no number.
bool ReadDeliveredVersionFile(const wchar_t* path, char* text, DWORD* length, bool* truncated)
{
    FileStart start;
    *length = ReadFileStart(path, text, kReleaseFileLimit, &start);
    *truncated = start.size > *length;
    if (start.opened && start.error == 0)
        return true;
    *length = 0;
    if (start.error == ERROR_FILE_NOT_FOUND || start.error == ERROR_PATH_NOT_FOUND)
        return false;
    LogSystemError(start.error, path);
    return true;
}

void LogOfflineRefusal(const wchar_t* reason)
{
    LogPrintf(L"EnsureRuntime: keine Versionsdatei vom Server, die Runtime neben dem Programm wird nicht installiert: %s",
              reason);
}

} // namespace

bool TakeDeliveredVersionFile(bool wholeRuntimeInstalled, bool serverNamedNumber, int floor, const wchar_t* versionFile,
                              int* version)
{
    DeliveredRelease delivered;
    char text[kReleaseFileLimit];
    DWORD length = 0;
    bool truncated = false;
    bool present = false;
    ReleaseLines lines = {};
    // Nothing beside the program is read while the server's answer or the installed runtime serves.
    if (!wholeRuntimeInstalled && !serverNamedNumber && DeliveredPaths(&delivered))
        present = ReadDeliveredVersionFile(delivered.versionFile, text, &length, &truncated);
    ParseReleaseText(text, present ? length : 0, truncated, &lines);
    bool verified = present && lines.readsNumber && VersionTextVerifies(text, lines);
    int kept = present ? KeptVerifiedRelease() : -1;
    if (kept > floor)
        floor = kept;
    wchar_t reason[kReasonCapacity];
    switch (JudgeOfflineRelease(wholeRuntimeInstalled, serverNamedNumber, present, lines, ReleaseKeyBuiltIn(), verified,
                                floor, UtcNow())) {
    case kOfflineNotAsked:
    case kOfflineNothingDelivered:
        return false;
    case kOfflineNoNumber:
        LogOfflineRefusal(L"ihre Versionsdatei nennt keine Versionsnummer");
        return false;
    case kOfflineUnverified:
        LogOfflineRefusal(L"ihre Versionsdatei ist nicht mit dem Release-Schl\u00fcssel signiert");
        return false;
    case kOfflineOlderThanSeen:
        BoundedFormat(reason, kReasonCapacity, L"sie hat Version %d, dieser Cache kannte schon Version %d",
                      lines.version, floor);
        LogOfflineRefusal(reason);
        return false;
    case kOfflineInstallsExpired:
        LogPrintf(L"EnsureRuntime: Versionsdatei neben dem Programm seit %hs abgelaufen, ohne Server wird sie trotzdem "
                  L"installiert; der n\u00e4chste Start mit dem Server bringt die Runtime auf seinen Stand",
                  lines.expiresText);
        break;
    case kOfflineInstalls:
        break;
    }
    // The very bytes judged become the install's version file.
    DWORD code = WriteWholeFile(versionFile, text, length);
    if (code) {
        LogSystemError(code, versionFile);
        return false;
    }
    *version = lines.version;
    return true;
}

bool TakeDeliveredPack(int version, const wchar_t* versionFile, FileDigest* digest, bool offline)
{
    DeliveredRelease delivered;
    int deliveredVersion = 0;
    if (!DeliveredPaths(&delivered) || !DeliveredVersion(delivered.versionFile, &deliveredVersion))
        return false;
    if (deliveredVersion != version) {
        LogPrintf(L"EnsureRuntime: %s nennt Version %d, installiert wird %d, %s", delivered.versionFile,
                  deliveredVersion, version, Otherwise(offline));
        return false;
    }
    // The check logs its one line when it refuses, naming the delivered pack.
    if (!DeliveredPackIsProgram(delivered.packFile, offline))
        return false;
    MeasureDeliveredPack(delivered.packFile, versionFile, digest);
    if (!CheckRuntimePack(versionFile, delivered.packFile, digest, nullptr, 0, nullptr, offline)) {
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
