#include "worker/worker.h"

#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/download.h"
#include "provision/payload.h"
#include "provision/properties.h"
#include "provision/release_rules.h"
#include "net/sha256.h"
#include "provision/runtime.h"
#include "worker/launch.h"
#include "worker/zip_rules.h"

namespace {

const wchar_t kGenericArchiveServerPath[] = L"/apps/zentrix/launcher/launcher.jar";

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

// Whether the received archive may replace the embedded one: a whole ZIP, and vouched for by this
// start's version file when the launcher has a key or the file names an archive. When not, one
// line says why.
bool ReceivedArchiveMayRun(const wchar_t* path)
{
    if (!IsWholeZipFile(path))
        return false;
    const Announcement& announcement = launcherState.announcement;
    FileDigest digest = {};
    // The archive is hashed only when its bytes decide: the verdict for bytes that match the
    // announcement is final unless it vouches for them.
    ArchiveVerdict verdict = JudgeArchive(announcement, announcement.archiveSize, announcement.archiveDigest);
    if (verdict == kArchiveVouched) {
        unsigned long error = HashFile(path, digest.sha256, &digest.size);
        if (error) {
            LogSystemError(static_cast<int>(error), path);
            return false;
        }
        verdict = JudgeArchive(announcement, digest.size, digest.sha256);
    }
    if (verdict == kArchiveVouched || verdict == kArchiveUnchecked)
        return true;
    wchar_t reason[kLogLineCapacity];
    FormatArchiveRefusal(verdict, announcement, digest.size, digest.sha256, reason, kLogLineCapacity);
    LogPrintf(L"provideGenenricLauncherJar: Archiv des Servers wird nicht verwendet: %s", reason);
    return false;
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
    if (received && ReceivedArchiveMayRun(genericArchive)) {
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
    return DownloadfileDirect(kGenericArchiveServerPath, 1, tempFile, false, kArchiveByteLimit) == 1;
}
