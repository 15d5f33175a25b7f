#include "worker/worker.h"

#include <stdint.h>
#include <string.h>

#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/download.h"
#include "provision/payload.h"
#include "provision/properties.h"
#include "provision/runtime.h"
#include "worker/launch.h"

namespace {

const wchar_t kGenericArchiveServerPath[] = L"/apps/zentrix/launcher/launcher.jar";

uint32_t Read16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Read32(const unsigned char* p) { return Read16(p) | Read16(p + 2) << 16; }

bool HasSignature(const unsigned char* bytes, size_t size, uint64_t offset, uint32_t signature)
{
    return offset <= size && size - offset >= 4 && Read32(bytes + offset) == signature;
}

enum : uint32_t {
    kLocalFileSignature = 0x04034b50,
    kCentralFileSignature = 0x02014b50,
    kEndSignature = 0x06054b50,
    kZip64EndSignature = 0x06064b50,
    kZip64LocatorSignature = 0x07064b50,
    kEndSize = 22,
    kZip64LocatorSize = 20,
};

// Whether the file holds a whole ZIP archive; read through a mapping, never into the heap.
bool IsWholeZipFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool whole = false;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            if (view) {
                whole = IsWholeZipArchive(static_cast<const unsigned char*>(view), size_t(size.QuadPart));
                UnmapViewOfFile(view);
            }
            CloseHandle(mapping);
        }
    }
    CloseHandle(file);
    return whole;
}

} // namespace

DWORD WINAPI LaunchWorker(LPVOID)
{
    ThawFile(kPropertyFilePayload);
    ReadLauncherProperties();
    EnsureRuntime();
    ThawFile(kLauncherJarPayload);
    wchar_t genericArchive[kPathCapacity] = {};
    bool received = provideGenenricLauncherJar(genericArchive);
    // The launch follows the probe in every outcome; a received archive is used only when whole.
    if (received && IsWholeZipFile(genericArchive)) {
        BoundedFormat(launcherState.launcherJarPath, kPathCapacity, L"%s", genericArchive);
        LogPrintf(L"Generisches Launcher-Archiv wird verwendet: %s", launcherState.launcherJarPath);
    } else {
        LogPrintf(L"Eingebettetes Launcher-Archiv wird verwendet: %s", launcherState.launcherJarPath);
    }
    RunLauncher();
    return 0;
}

bool provideGenenricLauncherJar(wchar_t* archivePath)
{
    wchar_t tempFile[kPathCapacity] = {};
    if (!CreateWorkFile(L"provideGenenricLauncherJar", L"lnch", tempFile))
        return false;
    if (archivePath)
        BoundedFormat(archivePath, kPathCapacity, L"%s", tempFile);
    return DownloadfileDirect(kGenericArchiveServerPath, 1, tempFile, false) == 1;
}

bool IsWholeZipArchive(const unsigned char* bytes, size_t size)
{
    if (!bytes || !HasSignature(bytes, size, 0, kLocalFileSignature) || size < kEndSize)
        return false;
    // The end record is the last thing in the file: its comment reaches exactly to the end.
    size_t lowest = size - kEndSize > 0xFFFF ? size - kEndSize - 0xFFFF : 0;
    for (size_t end = size - kEndSize + 1; end-- > lowest;) {
        const unsigned char* e = bytes + end;
        if (Read32(e) != kEndSignature || end + kEndSize + Read16(e + 20) != size)
            continue;
        uint32_t disk = Read16(e + 4), centralDisk = Read16(e + 6);
        uint32_t entriesHere = Read16(e + 8), entries = Read16(e + 10);
        uint64_t centralSize = Read32(e + 12), centralOffset = Read32(e + 16);
        bool zip64 = entries == 0xFFFF || entriesHere == 0xFFFF || centralSize == 0xFFFFFFFF ||
                     centralOffset == 0xFFFFFFFF;
        if (zip64) {
            // The locator stands right before the end record and names the zip64 end record.
            if (end < kZip64LocatorSize || !HasSignature(bytes, size, end - kZip64LocatorSize, kZip64LocatorSignature))
                return false;
            const unsigned char* locator = bytes + end - kZip64LocatorSize;
            uint64_t record = uint64_t(Read32(locator + 8)) | uint64_t(Read32(locator + 12)) << 32;
            return record < end && HasSignature(bytes, size, record, kZip64EndSignature);
        }
        if (disk != 0 || centralDisk != 0 || entriesHere != entries)
            return false;
        if (centralOffset + centralSize != end)
            return false;
        return entries == 0 || HasSignature(bytes, size, centralOffset, kCentralFileSignature);
    }
    return false;
}
