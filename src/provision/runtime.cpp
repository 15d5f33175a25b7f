#include <windows.h>

#include <shlwapi.h>
#include <wchar.h>

#include "provision/runtime.h"

#include "base/fault_plan.h"
#include "base/files.h"
#include "base/state.h"
#include "layout/folders.h"
#include "layout/held_files.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/authdownload.h"
#include "net/download.h"
#include "net/pack_download.h"
#include "net/resume_rules.h"
#include "provision/delivered_pack.h"
#include "provision/install_rules.h"
#include "provision/refusal_rules.h"
#include "provision/refused_start.h"
#include "provision/release_check.h"
#include "provision/rollout.h"
#include "provision/version_rules.h"

namespace {

// Takes the cache lock into *out (null when no lock could be made: the caller goes on). With
// boundedWhenWhole, a start that finds the lock held and a whole runtime installed waits only so
// long and returns false: it launches that runtime without checking.
bool AcquireLock(HANDLE* out, bool boundedWhenWhole);

enum : int {
    kVersionBufferSize = 1000,
    kVersionPieceSize = 100,
    kVersionReadLimit = 500,
    kRuntimeTextCapacity = 4096,
    kPackInUsePollMs = 250,
    kPackInUseLimitMs = 5 * 60 * 1000,
    // How long a start with a whole runtime waits for another start's check or install before it
    // launches that runtime unchecked.
    kBusyCacheWaitMs = 20 * 1000,
};

// Why this start's pack did not run when the machine refused to start it (start_rules.h), else 0.
DWORD packStartRefusal = 0;

// The direct download first; the proxy-authenticating one only when the direct one failed.
int DownloadTwoStep(const wchar_t* serverPath, const wchar_t* targetFile)
{
    if (DownloadfileDirect(serverPath, 1, targetFile, true, kVersionFileByteLimit))
        return 1;
    return DownloadWithAuthentication(serverPath, 1, targetFile, kVersionFileByteLimit);
}

bool IsFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The runtime in a folder (jre, or the set-aside one) was unpacked to its end (marker) and has its
// javaw.
bool WholeRuntimeIn(const wchar_t* folder)
{
    wchar_t marker[kPathCapacity];
    wchar_t javaw[kPathCapacity];
    return BoundedFormat(marker, kPathCapacity, L"%s\\unpack.txt", folder) == kFormatOk &&
           BoundedFormat(javaw, kPathCapacity, L"%s\\bin\\javaw.exe", folder) == kFormatOk && IsFile(marker) &&
           IsFile(javaw);
}

// The installed runtime, by its folder rather than by javawPath: a start that launches a waiting
// runtime where it lies points javawPath there.
bool WholeRuntimeInstalled()
{
    return WholeRuntimeIn(launcherState.runtimeFolder);
}

bool FileHasContent(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    BOOL known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    return known && size.QuadPart > 0;
}

void WriteEmptyFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void DeleteFileQuietly(const wchar_t* path)
{
    if (!DeleteFileW(path)) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            LogSystemError(code, path);
    }
}

void DeleteInstallFolder(const wchar_t* folder, const wchar_t* leafName)
{
    if (Exists(folder))
        DeleteCacheFolderTree(folder, leafName, launcherState.cacheFolderCut != FALSE);
}

enum : size_t { kStagingNameCapacity = 32 };

// The staging folder of a slot (install_rules.h): "jre.staging", then "jre.staging.1" and on.
void StagingFolderName(int slot, wchar_t* name)
{
    if (slot == 0)
        BoundedFormat(name, kStagingNameCapacity, L"%s", kStagingFolderName);
    else
        BoundedFormat(name, kStagingNameCapacity, L"%s.%d", kStagingFolderName, slot);
}

// Points the install's staging paths at a slot's folder; false when a path does not fit.
bool UseStagingSlot(int slot)
{
    LauncherState& s = launcherState;
    const wchar_t* cache = s.cacheFolder;
    wchar_t name[kStagingNameCapacity];
    StagingFolderName(slot, name);
    unsigned cut = kFormatOk;
    cut |= BoundedFormat(s.stagingFolder, kPathCapacity, L"%s\\%s", cache, name);
    cut |= BoundedFormat(s.stagedPackFile, kPathCapacity, L"%s\\%s\\jre_pack.exe", cache, name);
    cut |= BoundedFormat(s.stagedRuntimeFolder, kPathCapacity, L"%s\\%s\\jre", cache, name);
    cut |= BoundedFormat(s.stagedJavawFile, kPathCapacity, L"%s\\%s\\jre\\bin\\javaw.exe", cache, name);
    cut |= BoundedFormat(s.stagedMarkerFile, kPathCapacity, L"%s\\%s\\jre\\unpack.txt", cache, name);
    return cut == kFormatOk;
}

// Deletes the staging folder in use. Its leaf must be one of the slots' names, so that a path
// that went wrong is never handed to the shell. A folder a program runs from (a waiting runtime
// started where it lies) stays whole: the shell would delete every file of it that is not open
// and leave the running program without them; the slots let the next install unpack beside it.
void DeleteStagingFolder()
{
    if (Exists(launcherState.stagingFolder) && ProgramRunsFrom(launcherState.stagingFolder)) {
        LogPrintf(L"Ein Programm l\u00e4uft aus diesem Ordner, er bleibt an seinem Platz: %s", launcherState.stagingFolder);
        return;
    }
    const wchar_t* leaf = wcsrchr(launcherState.stagingFolder, L'\\');
    wchar_t name[kStagingNameCapacity];
    for (int slot = 0; leaf && slot < kStagingSlotCount; ++slot) {
        StagingFolderName(slot, name);
        if (_wcsicmp(leaf + 1, name) == 0) {
            DeleteInstallFolder(launcherState.stagingFolder, name);
            return;
        }
    }
    DeleteInstallFolder(launcherState.stagingFolder, kStagingFolderName); // refused and logged
}

// Where a runtime keeps the release it was checked against (install_rules.h): inside its own
// folder, so that the record moves into place with it and still names its release there when a
// start ends before version.txt does.
bool ReleaseRecordPath(const wchar_t* runtimeFolder, wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\release.sha256", runtimeFolder) == kFormatOk;
}

// Writes the digests of version.new and, when known, of the pack into the staged runtime. The
// version file's digest is the one this start's refusal record took (RecallRefusal): it has no
// source when version.new could not be hashed, and then no record is written.
void KeepStagedRelease(const PackRefusal& record, const FileDigest& pack)
{
    char text[kStagedReleaseTextCapacity];
    wchar_t path[kPathCapacity];
    if (!record.source[0] || !ReleaseRecordPath(launcherState.stagedRuntimeFolder, path))
        return;
    size_t length = FormatStagedRelease(record.versionDigest, pack.known ? pack.sha256 : nullptr, text, sizeof text);
    DWORD code = length ? WriteWholeFile(path, text, static_cast<DWORD>(length)) : 0;
    if (code)
        LogSystemError(code, path);
}

// True when the runtime in the folder names the release whose version file has this digest.
bool RuntimeReleaseIs(const wchar_t* runtimeFolder, const unsigned char* version)
{
    char text[kStagedReleaseTextCapacity];
    wchar_t path[kPathCapacity];
    DWORD got = 0;
    return ReleaseRecordPath(runtimeFolder, path) && ReadSmallFile(path, text, sizeof text, &got) &&
           StagedReleaseMatches(text, got, version);
}

// True when the file exists but cannot be opened for writing because another process holds it:
// an extractor that an earlier start ran, and that outlived that start, is running.
bool PackInUse(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    DWORD code = GetLastError();
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

bool EarlierExtractorRunning()
{
    return PackInUse(launcherState.stagedPackFile) || PackInUse(launcherState.runtimePackFile);
}

// Waits until that extractor has ended: it would write into the staging folder while this start
// clears it. Escape still works, as the extractor is not ours.
void WaitForEarlierExtractor()
{
    if (!EarlierExtractorRunning())
        return;
    LogLine(L"RunExtract: Entpacker eines fr\u00fcheren Starts l\u00e4uft noch, warte auf sein Ende");
    DWORD waited = 0;
    while (EarlierExtractorRunning() && waited < kPackInUseLimitMs) {
        Sleep(kPackInUsePollMs);
        waited += kPackInUsePollMs;
    }
    if (waited >= kPackInUseLimitMs)
        LogLine(L"RunExtract: Runtime-Paket bleibt belegt, Installation wird trotzdem versucht");
}

const wchar_t kBrokenRuntimeName[] = L"jre.broken";

bool BrokenRuntimePath(wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\%s", launcherState.cacheFolder, kBrokenRuntimeName) == kFormatOk;
}

// A folder a program runs from stays whole (Wine lets such a folder be renamed): the shell would
// delete every file of it that is not open and leave the running program without them.
void DeleteBrokenRuntime()
{
    wchar_t broken[kPathCapacity];
    if (BrokenRuntimePath(broken) && Exists(broken) && !ProgramRunsFrom(broken))
        DeleteInstallFolder(broken, kBrokenRuntimeName);
}

// Removes a runtime folder that is not whole. It is renamed first: a folder that a running
// program holds cannot be renamed, so nothing of a runtime in use is ever deleted; a scanner's
// moment on a file below it is waited out like at every other move of a runtime folder. What
// cannot be deleted after the rename is left for a later install.
bool RemoveBrokenRuntime()
{
    wchar_t broken[kPathCapacity];
    if (!BrokenRuntimePath(broken))
        return false;
    DeleteBrokenRuntime();
    if (!MoveHeldFolder(launcherState.runtimeFolder, broken))
        return false;
    DeleteBrokenRuntime();
    return true;
}

SetAsideRepair JudgeSetAside()
{
    LauncherState& s = launcherState;
    return DecideSetAsideRepair(Exists(s.runtimeFolder), WholeRuntimeIn(s.runtimeFolder), Exists(s.setAsideRuntimeFolder),
                                WholeRuntimeIn(s.setAsideRuntimeFolder));
}

// A start ended between setting the installed runtime aside and moving the new one into place
// left the set-aside runtime, which matches version.txt, and a runtime folder that is missing or
// not whole: the set-aside one goes back in its place. The install then runs as usual.
void RestoreSetAsideRuntime()
{
    LauncherState& s = launcherState;
    if (JudgeSetAside() != kSetAsidePutBack)
        return;
    if (Exists(s.runtimeFolder) && !RemoveBrokenRuntime())
        return;
    if (MoveHeldFolder(s.setAsideRuntimeFolder, s.runtimeFolder))
        LogLine(L"EnsureRuntime: bisherige Runtime nach abgebrochener Installation wiederhergestellt");
}

// Removes every staging folder and puts the install's staging paths on the first that is clear;
// false when none is (each later start tries again to remove them).
bool ClearStagingFolders()
{
    bool clear[kStagingSlotCount] = {};
    wchar_t name[kStagingNameCapacity];
    for (int slot = 0; slot < kStagingSlotCount; ++slot) {
        if (!UseStagingSlot(slot))
            continue;
        DeleteStagingFolder();
        clear[slot] = !Exists(launcherState.stagingFolder);
    }
    int slot = ChooseStagingSlot(clear, kStagingSlotCount);
    if (slot < 0 || !UseStagingSlot(slot)) {
        UseStagingSlot(0);
        LogLine(L"EnsureRuntime: kein Staging-Ordner l\u00e4sst sich leeren, keine Installation");
        return false;
    }
    if (slot > 0) {
        // What an earlier start unpacked there is never put in place; a later start removes it.
        StagingFolderName(slot, name);
        LogPrintf(L"EnsureRuntime: jre.staging l\u00e4sst sich nicht leeren, die neue Runtime wird in %s entpackt", name);
    }
    return true;
}

// Clears what an earlier install left. The set-aside runtime is deleted only once jre is whole;
// while neither is whole both stay, and the switch replaces the one that is not.
bool ClearInstallLeftovers()
{
    LauncherState& s = launcherState;
    WaitForEarlierExtractor();
    if (!ClearStagingFolders())
        return false;
    if (JudgeSetAside() == kSetAsideDelete)
        DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
    DeleteBrokenRuntime();
    DeleteFileQuietly(s.newVersionFile);
    return true;
}

// Leaves the cache as it was before the install began, so that the installed runtime and its
// version.txt go on as they are.
void DiscardInstall()
{
    DeleteFileQuietly(launcherState.runtimePackFile);
    DeleteStagingFolder();
    DeleteFileQuietly(launcherState.newVersionFile);
}

// The pack's own download first, which continues what an earlier start left; the
// proxy-authenticating one only when that got no usable answer. A download that broke off keeps
// its partial file for the next start instead of starting over at once. With digest given, the
// pack's own download hashes the pack while it arrives (the fallback does not).
// expectedSize: the size the version file names (0: none), which no download may write past;
// refusedValidator and validatorOut as for DownloadRuntimePack.
int FetchRuntimePack(PackRoom* room, FileDigest* digest, uint64_t expectedSize, const wchar_t* refusedValidator,
                     wchar_t* validatorOut)
{
    LauncherState& s = launcherState;
    int result = DownloadRuntimePack(s.runtimePackUrlPath, s.runtimePackFile, expectedSize, refusedValidator,
                                     validatorOut, room, digest);
    if (result != kPackFailed)
        return result;
    if (digest)
        *digest = FileDigest{}; // the fallback writes the pack file afresh
    validatorOut[0] = L'\0';   // nor does it keep the server's validator
    result = DownloadPackWithAuthentication(s.runtimePackUrlPath, s.runtimePackFile, expectedSize, room);
    if (result != kPackDownloaded)
        return result;
    // The whole pack came another way; what an earlier start left is of no use now.
    if (IsFile(s.partialPackFile) || IsFile(s.partialPackMetaFile))
        DiscardPartialPack(L"Paket \u00fcber die Anmeldung am Proxy geladen");
    return kPackDownloaded;
}

// The disk cannot take the pack: said plainly, with the room needed, instead of a failed download.
void ReportNoRoomForPack(const PackRoom& room)
{
    wchar_t text[kRuntimeTextCapacity];
    FormatDiskFullText(text, kRuntimeTextCapacity, room.neededBytes, room.freeBytes);
    ShowWarning(text);
}

void ReportPackDownloadFailure()
{
    wchar_t text[kRuntimeTextCapacity];
    BoundedFormat(text, kRuntimeTextCapacity, L"Jre download failed host=%s, path=%s, to file %s",
                  launcherState.downloadHost, launcherState.runtimePackUrlPath, launcherState.runtimePackFile);
    LogLine(text);
    ShowWarning(text);
}

// A proxy's or portal's page, or an empty answer, must not replace a working runtime. refusedLine
// (kRefusalLineCapacity characters) receives the line of a refusal; notAProgram is set when the
// head was read and is not a program (a file that could not be read is no verdict on its bytes).
bool DownloadedPackIsProgram(wchar_t* refusedLine, bool* notAProgram)
{
    unsigned char head[kProgramHeadSize];
    FileStart start;
    DWORD got = ReadFileStart(launcherState.runtimePackFile, head, kProgramHeadSize, &start);
    if (IsWindowsProgramImage(head, got))
        return true;
    *notAProgram = start.opened && start.error == 0;
    BoundedFormat(refusedLine, kRefusalLineCapacity,
                  L"EnsureRuntime: Runtime-Paket ist kein Windows-Programm (%llu Bytes), es wird nicht gestartet",
                  static_cast<unsigned long long>(start.size));
    LogLine(refusedLine);
    return false;
}

// Where the refusal of the last pack is kept (refusal_rules.h).
bool RefusalPath(wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\jre_pack.refused", launcherState.cacheFolder) == kFormatOk;
}

bool ReadRefusal(PackRefusal* refusal)
{
    wchar_t path[kPathCapacity];
    wchar_t text[kPackRefusalTextCapacity];
    DWORD got = 0;
    return RefusalPath(path) && ReadSmallFile(path, text, sizeof text, &got) && got % sizeof(wchar_t) == 0 &&
           ParsePackRefusal(text, got / sizeof(wchar_t), refusal);
}

// Writes a pack's record (a refusal, or a pack the machine refused to start) to path. A cut record
// would never read back: none is kept then.
void WritePackRecord(const PackRefusal& record, const wchar_t* path)
{
    wchar_t text[kPackRefusalTextCapacity];
    size_t length = FormatPackRefusal(record, text, kPackRefusalTextCapacity);
    if (length == 0)
        return;
    DWORD code = WriteWholeFile(path, text, static_cast<DWORD>(length * sizeof(wchar_t)));
    if (code)
        LogSystemError(code, path);
}

void KeepRefusal(const PackRefusal& refusal)
{
    wchar_t path[kPathCapacity];
    if (RefusalPath(path))
        WritePackRecord(refusal, path);
}

void ForgetRefusal()
{
    wchar_t path[kPathCapacity];
    if (RefusalPath(path))
        DeleteFileQuietly(path);
}

// A pack the machine refused to start is kept with a record of the same form as a refusal (where it
// came from, the version file it was checked against), so that later starts run it again without
// downloading it while the server offers the same release: the administrator may allow it meanwhile.
bool BlockedPackPath(wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\jre_pack.blocked", launcherState.cacheFolder) == kFormatOk;
}

void KeepBlockedPack(PackRefusal record)
{
    wchar_t path[kPathCapacity];
    if (!record.validator[0])
        BoundedFormat(record.validator, kValidatorCapacity, L"-"); // the server sent none; none is needed
    BoundedFormat(record.line, kRefusalLineCapacity, L"Runtime-Paket beim Start blockiert (Fehler %lu)",
                  packStartRefusal);
    if (BlockedPackPath(path))
        WritePackRecord(record, path);
}

void ForgetBlockedPack()
{
    wchar_t path[kPathCapacity];
    if (BlockedPackPath(path))
        DeleteFileQuietly(path);
}

// True when the pack in the cache is the one an earlier start could not run, for this very source
// and version file, and it still passes the release check: it runs again without a download.
bool BlockedPackStillUsable(const PackRefusal& current)
{
    wchar_t path[kPathCapacity];
    wchar_t text[kPackRefusalTextCapacity];
    wchar_t refusedLine[kRefusalLineCapacity] = {};
    bool notAProgram = false;
    FileStart start;
    PackRefusal kept = {};
    if (!current.source[0] || !BlockedPackPath(path))
        return false;
    DWORD got = ReadFileStart(path, text, sizeof text, &start);
    bool usable = start.opened && start.error == 0 && start.size == got && got < sizeof text &&
                  got % sizeof(wchar_t) == 0 && ParsePackRefusal(text, got / sizeof(wchar_t), &kept) &&
                  // A blocked pack does not lapse like a refused one: it is not downloaded again
                  // while its source and version file stay the same.
                  RefusalStillApplies(kept, current.source, current.versionDigest, kept.keptAt) &&
                  DownloadedPackIsProgram(refusedLine, &notAProgram) &&
                  CheckRuntimePack(launcherState.newVersionFile, launcherState.runtimePackFile, nullptr, refusedLine,
                                   kRefusalLineCapacity);
    if (usable)
        LogLine(L"EnsureRuntime: Runtime-Paket wurde bei einem fr\u00fcheren Start blockiert und wird ohne Download "
                L"erneut gestartet");
    else if (start.opened)
        ForgetBlockedPack();
    return usable;
}

// Fills current with what a refusal of this start's pack would keep (where the pack comes from and
// the digest of the version file it is checked against) and earlier with the refusal an earlier
// start kept for the very same pack and version file; true when there is one. A kept refusal that
// no longer applies is forgotten. When the version file cannot be hashed, current gets no source,
// so that no refusal is kept for it.
bool RecallRefusal(PackRefusal* current, PackRefusal* earlier)
{
    LauncherState& s = launcherState;
    uint64_t versionSize = 0;
    if (HashFile(s.newVersionFile, current->versionDigest, &versionSize) == 0)
        BoundedFormat(current->source, kResumeSourceCapacity, L"%s%s", s.downloadHost, s.runtimePackUrlPath);
    bool applies = current->source[0] && ReadRefusal(earlier) &&
                   RefusalStillApplies(*earlier, current->source, current->versionDigest, UtcNow());
    if (!applies)
        ForgetRefusal();
    return applies;
}

// The pack runs from inside the staging folder, so that a pack that unpacks into its current
// folder and one that unpacks next to itself both unpack there.
bool StagePack()
{
    LauncherState& s = launcherState;
    if (!RuntimePackPresent())
        return false; // nothing to run: the install is discarded as after a failed extraction
    if (!CreateDirectoryW(s.stagingFolder, nullptr)) {
        DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            LogSystemError(code, s.stagingFolder);
            return false;
        }
    }
    return MoveHeldFile(s.runtimePackFile, s.stagedPackFile, MOVEFILE_REPLACE_EXISTING);
}

// The pack stays in the cache folder after the install, as it always has.
void ReturnStagedPack()
{
    if (Exists(launcherState.stagedPackFile))
        MoveHeldFile(launcherState.stagedPackFile, launcherState.runtimePackFile, MOVEFILE_REPLACE_EXISTING);
}

bool UnpackStagedPack()
{
    bool unpacked = RunExtract() && IsFile(launcherState.stagedJavawFile);
    ReturnStagedPack();
    if (!unpacked)
        LogLine(L"EnsureRuntime: neue Runtime unvollst\u00e4ndig entpackt, bisherige Runtime bleibt");
    return unpacked;
}

// The file that becomes version.txt must have arrived whole and name a number, and with a key be
// the very release that decided the install, not an older one than the installed runtime. A user
// without a whole runtime is not left without one for a second fetch that failed: the first
// fetch's file, which decided the install, serves instead, under the same rules.
bool TakeInstallVersionFile(bool secondArrived)
{
    LauncherState& s = launcherState;
    bool secondNamesNumber = secondArrived && VersionFileNamesNumber(s.newVersionFile);
    switch (ChooseInstallVersionFile(secondNamesNumber, WholeRuntimeInstalled(), s.announcement.readsNumber)) {
    case kInstallVersionSecond:
        return CheckSecondFetch(s.newVersionFile, s.remoteVersion, s.localVersion);
    case kInstallVersionFirst:
        LogLine(L"EnsureRuntime: zweiter Abruf der Versionsdatei ohne Versionsnummer und keine Runtime installiert, "
                L"die Versionsdatei des ersten Abrufs gilt");
        return CheckSecondFetch(s.remoteVersionFile, s.remoteVersion, s.localVersion) &&
               MoveHeldFile(s.remoteVersionFile, s.newVersionFile, MOVEFILE_REPLACE_EXISTING);
    case kInstallVersionNone:
        break;
    }
    if (!secondArrived)
        LogLine(L"EnsureRuntime: Versionsdatei des Servers nicht vollst\u00e4ndig geladen, keine Installation, "
                L"version.txt bleibt");
    else
        CheckSecondFetch(s.newVersionFile, s.remoteVersion, s.localVersion); // says why: no number
    return false;
}

// Makes way for the switch when a set-aside runtime is still there (a waiting runtime is
// committed without the install's clean-up, and a start's put-back may have failed): see
// DecideSwitchClearing.
void ClearWayForSwitch()
{
    LauncherState& s = launcherState;
    switch (DecideSwitchClearing(Exists(s.runtimeFolder), WholeRuntimeIn(s.runtimeFolder),
                                 Exists(s.setAsideRuntimeFolder))) {
    case kSwitchDeleteSetAside:
        DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
        break;
    case kSwitchRemoveRuntime:
        RemoveBrokenRuntime();
        break;
    case kSwitchClearNothing:
        break;
    }
}

void ReplaceLocalVersionFile()
{
    LauncherState& s = launcherState;
    if (!IsFile(s.newVersionFile)) {
        LogLine(L"EnsureRuntime: Versionsdatei des Servers fehlt, version.txt bleibt");
        return;
    }
    MoveHeldFile(s.newVersionFile, s.localVersionFile, MOVEFILE_REPLACE_EXISTING);
}

// The switch: the installed runtime goes aside, the staged one (already marked) takes its place,
// and only then does version.txt name the new version. A runtime that cannot be moved (a running
// javaw holds it) stays and is launched; the new one is installed by a later start. Both moves
// wait out a scanner's hold of the freshly unpacked files.
int CommitStagedRuntime()
{
    LauncherState& s = launcherState;
    WriteEmptyFile(s.stagedMarkerFile);
    ClearWayForSwitch();
    bool hadRuntime = Exists(s.runtimeFolder);
    if (hadRuntime && !MoveHeldFolder(s.runtimeFolder, s.setAsideRuntimeFolder)) {
        // Checked, unpacked and marked, the new runtime waits with its version file; a later start
        // that can move the old one aside puts it in place without downloading it again.
        LogPrintf(L"EnsureRuntime: bisherige Runtime ist in Benutzung und bleibt, die neue (Version %d) wartet in "
                  L"jre.staging auf einen sp\u00e4teren Start",
                  ReadVersionNumber(s.newVersionFile));
        return 0;
    }
    if (!MoveHeldFolder(s.stagedRuntimeFolder, s.runtimeFolder)) {
        // A hold that outlasts the wait (or any other refusal of the move) costs the checked and
        // unpacked runtime nothing: it waits in jre.staging, like one whose predecessor is in
        // use, and a later start puts it in place without downloading it again.
        if (hadRuntime)
            MoveHeldFolder(s.setAsideRuntimeFolder, s.runtimeFolder);
        LogPrintf(L"EnsureRuntime: neue Runtime nicht an ihren Platz gebracht, sie wartet (Version %d) in jre.staging "
                  L"auf einen sp\u00e4teren Start",
                  ReadVersionNumber(s.newVersionFile));
        return 0;
    }
    ReplaceLocalVersionFile();
    LogPrintf(L"EnsureRuntime: neue Runtime installiert, Version %d", ReadVersionNumber(s.localVersionFile));
    DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
    DeleteStagingFolder();
    return 1;
}

// Runs the checked pack and puts its runtime in place. A pack the machine refused to start stays
// with its record (KeepBlockedPack) instead of being discarded; record is this start's source,
// version digest and validator.
int UnpackAndCommit(const PackRefusal& record, const FileDigest& digest)
{
    packStartRefusal = 0;
    if (!StagePack() || !UnpackStagedPack()) {
        if (packStartRefusal) {
            DeleteStagingFolder();
            DeleteFileQuietly(launcherState.newVersionFile);
            KeepBlockedPack(record);
        } else {
            ForgetBlockedPack();
            DiscardInstall();
        }
        return 0;
    }
    ForgetBlockedPack();
    KeepStagedRelease(record, digest);
    return CommitStagedRuntime();
}

// Installs the release delivered beside the program, whose version file is already the install's
// (TakeDeliveredVersionFile), for a start whose server gave none: the pack is checked as a
// download is, copied, and installed like one. Without the server nothing is downloaded instead
// and no box is shown; the start goes on as it would have without the release.
int InstallDeliveredRuntime(int version)
{
    LauncherState& s = launcherState;
    FileDigest digest = {};
    PackRefusal record = {};
    wchar_t refusedLine[kRefusalLineCapacity] = {};
    bool notAProgram = false;
    if (!TakeDeliveredPack(version, s.newVersionFile, &digest, true) ||
        !DownloadedPackIsProgram(refusedLine, &notAProgram) ||
        !CheckRuntimePack(s.newVersionFile, s.runtimePackFile, &digest, refusedLine, kRefusalLineCapacity, nullptr, true)) {
        LogLine(L"EnsureRuntime: keine Versionsdatei vom Server, die Runtime neben dem Programm wird nicht installiert: "
                L"ihr Runtime-Paket ist nicht verwendbar");
        DiscardInstall();
        return 0;
    }
    LogPrintf(L"EnsureRuntime: keine Versionsdatei vom Server, die Runtime neben dem Programm wird installiert, Version %d",
              version);
    // A pack the machine refuses to start is kept under its own source, which no server's pack
    // shares, and the version file it was checked against, as after a download.
    uint64_t versionSize = 0;
    if (HashFile(s.newVersionFile, record.versionDigest, &versionSize) == 0)
        BoundedFormat(record.source, kResumeSourceCapacity, L"%s\\runtime\\jre_pack.exe", s.programFolder);
    return UnpackAndCommit(record, digest);
}

int InstallRuntime()
{
    LauncherState& s = launcherState;
    if (s.installPathsCut) {
        LogLine(L"EnsureRuntime: Pfade im Cache-Ordner zu lang, keine Installation");
        return 0;
    }
    if (!ClearInstallLeftovers())
        return 0;
    // Fetched again rather than copied, as the server's file is the one to trust; it becomes
    // version.txt only once the new runtime is in place.
    int versionFetched = DownloadTwoStep(s.versionUrlPath, s.newVersionFile);
    wchar_t line[kRuntimeTextCapacity];
    BoundedFormat(line, kRuntimeTextCapacity, L"localVersion=%d, remoteVersion=%d, ... need to dl java",
                  s.localVersion, s.remoteVersion);
    LogLine(line);
    // Without a number from either fetch, a user with no runtime gets the release delivered beside
    // the program, when there is one that may be installed.
    bool serverNamedNumber = s.announcement.readsNumber || (versionFetched && VersionFileNamesNumber(s.newVersionFile));
    int deliveredVersion = 0;
    if (TakeDeliveredVersionFile(WholeRuntimeInstalled(), serverNamedNumber, s.localVersion, s.newVersionFile,
                                 &deliveredVersion))
        return InstallDeliveredRuntime(deliveredVersion);
    if (!TakeInstallVersionFile(versionFetched != 0)) {
        DeleteFileQuietly(s.newVersionFile);
        return 0;
    }

    // A pack refused against this very version file is asked for only if it changed.
    PackRefusal refusal = {};
    PackRefusal earlier = {};
    bool refusedBefore = RecallRefusal(&refusal, &earlier);

    // Every file is back in its final state before the box is shown: the box may be the last
    // thing of this start (Escape or Alt+F4 while it is open).
    PackRoom room = {};
    FileDigest digest = {};
    if (BlockedPackStillUsable(refusal))
        return UnpackAndCommit(refusal, digest);
    // The digest is taken while the pack arrives, on a second thread, so checking it costs the
    // first run next to nothing.
    PackExpectation expected = ReadPackExpectation(s.newVersionFile);
    // A pack delivered beside the program for this release saves the download.
    int fetched = TakeDeliveredPack(s.remoteVersion, s.newVersionFile, &digest)
                      ? kPackDownloaded
                      : FetchRuntimePack(&room, expected.needsDigest ? &digest : nullptr, expected.size,
                                         refusedBefore ? earlier.validator : nullptr, refusal.validator);
    if (fetched == kPackNotModified) {
        // The same bytes as last time: the same refusal, without fetching them again.
        LogLine(earlier.line);
        DiscardInstall();
        ReportPackDownloadFailure();
        return 0;
    }
    bool notAProgram = false;
    ReleaseVerdict verdict = kReleaseAccepted;
    if (fetched != kPackDownloaded || !DownloadedPackIsProgram(refusal.line, &notAProgram) ||
        !CheckRuntimePack(s.newVersionFile, s.runtimePackFile, &digest, refusal.line, kRefusalLineCapacity, &verdict)) {
        // Only the pack's validator tells one whole answer: a pack continued from a partial file or
        // fetched by the fallback has none.
        if (refusal.line[0] && RefusalMayBeKept(refusal.validator[0] != L'\0', notAProgram, verdict)) {
            refusal.keptAt = UtcNow();
            KeepRefusal(refusal);
        }
        DiscardInstall();
        if (fetched == kPackNoRoom)
            ReportNoRoomForPack(room);
        else
            ReportPackDownloadFailure();
        return 0;
    }
    ForgetRefusal();
    return UnpackAndCommit(refusal, digest);
}

// A new runtime that an earlier start checked, unpacked and marked but could not put in place
// (the installed one was in use) waits in a staging folder with its version file; it counts only
// where its record names that very version file. The staging paths are left on its folder.
bool PendingInstallExists()
{
    LauncherState& s = launcherState;
    unsigned char version[kSha256Size];
    uint64_t size = 0;
    bool hashed = IsFile(s.newVersionFile) && HashFile(s.newVersionFile, version, &size) == 0;
    for (int slot = 0; hashed && slot < kStagingSlotCount; ++slot) {
        if (UseStagingSlot(slot) && IsFile(s.stagedMarkerFile) && IsFile(s.stagedJavawFile) &&
            RuntimeReleaseIs(s.stagedRuntimeFolder, version))
            return true;
    }
    UseStagingSlot(0);
    return false;
}

void DiscardPendingInstall(const wchar_t* reason)
{
    LogPrintf(L"EnsureRuntime: wartende neue Runtime verworfen: %s", reason);
    DeleteStagingFolder();
    DeleteFileQuietly(launcherState.newVersionFile);
}

// Whether the waiting runtime is still the one to install: the server announces its number and,
// with a key, its version file still checks (against the clock too). When not, it is discarded.
bool PendingInstallStillWanted()
{
    LauncherState& s = launcherState;
    if (ReadVersionNumber(s.newVersionFile) != s.remoteVersion || s.forceDownload) {
        DiscardPendingInstall(L"der Server nennt eine andere Version");
        return false;
    }
    if (!CheckSecondFetch(s.newVersionFile, s.remoteVersion, s.localVersion)) {
        DiscardPendingInstall(L"ihre Versionsdatei gilt nicht mehr");
        return false;
    }
    return true;
}

// A start ended between moving the new runtime into jre and replacing version.txt left that
// runtime in place under the old number, with version.new beside it. When the release record that
// moved along inside jre names version.new, and the server still announces it (the checks a
// waiting runtime passes), version.new becomes version.txt without a download. A version.new of
// another install never matches the record of the runtime in jre; the install's clean-up removes it.
// A start without the server's number finishes it too (version.new still passing its own checks):
// after a first install there is no version.txt, so such a start would go on to an install whose
// clean-up deletes version.new, and the next start with the server would download the pack again.
void FinishInterruptedSwitch()
{
    LauncherState& s = launcherState;
    unsigned char version[kSha256Size];
    uint64_t size = 0;
    if (s.installPathsCut || !IsFile(s.newVersionFile) || !WholeRuntimeInstalled() ||
        HashFile(s.newVersionFile, version, &size) != 0 || !RuntimeReleaseIs(s.runtimeFolder, version))
        return;
    int number = ReadVersionNumber(s.newVersionFile);
    bool serverNamed = s.announcement.readsNumber;
    if ((serverNamed && number != s.remoteVersion) ||
        !CheckSecondFetch(s.newVersionFile, serverNamed ? s.remoteVersion : number, s.localVersion))
        return;
    LogPrintf(L"EnsureRuntime: neue Runtime (Version %d) ist schon an ihrem Platz, version.txt wird ohne Download "
              L"nachgetragen",
              number);
    ReplaceLocalVersionFile();
    s.localVersion = ReadVersionNumber(s.localVersionFile);
    DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
    DeleteStagingFolder();
}

// A runtime set aside as not whole that could not be deleted at once (jre.broken) goes at a later
// start that has a whole runtime in place, not only at the next install.
void RemoveBrokenRuntimeLeftover()
{
    if (!launcherState.installPathsCut && WholeRuntimeInstalled())
        DeleteBrokenRuntime();
}

// With no whole runtime in place but a checked one waiting (its move was held past the wait on a
// first install), this start runs the waiting one where it lies rather than none at all.
void LaunchWaitingRuntimeIfNoneInPlace()
{
    LauncherState& s = launcherState;
    if (s.installPathsCut || WholeRuntimeInstalled() || !PendingInstallExists())
        return;
    size_t length = wcslen(s.stagedJavawFile);
    const size_t extension = 4; // ".exe": javawPath names the program without it
    if (BoundedFormat(s.javawPath, kPathCapacity, L"%.*s", static_cast<int>(length - extension), s.stagedJavawFile) ==
        kFormatOk)
        LogPrintf(L"EnsureRuntime: keine Runtime an ihrem Platz, die wartende wird aus jre.staging gestartet");
}

int CheckAndInstallRuntime()
{
    LauncherState& s = launcherState;
    if (!s.installPathsCut)
        RestoreSetAsideRuntime();
    s.localVersion = ReadVersionNumber(s.localVersionFile);
    bool markerExists = IsFile(s.unpackMarkerFile);
    bool binFolderExists = PathFileExistsW(s.runtimeBinFolder) != FALSE;

    DownloadTwoStep(s.versionUrlPath, s.remoteVersionFile);
    s.remoteVersion = ReadVersionNumber(s.remoteVersionFile);
    s.announcement = ReadAnnouncement(s.remoteVersionFile);
    if (s.announcement.expired) {
        LogPrintf(L"EnsureRuntime: Versionsdatei des Servers seit %hs abgelaufen, keine Installation",
                  s.announcement.expiresText);
        return 0;
    }
    FinishInterruptedSwitch();

    if (!s.installPathsCut && PendingInstallExists()) {
        if (!s.announcement.readsNumber)
            return 0; // no answer from the server: the waiting runtime waits for a start that has one
        if (PendingInstallStillWanted()) {
            if (RolloutHoldsBackThisDesktop(WholeRuntimeInstalled()))
                return 1; // it waits until the rollout reaches this desktop
            LogPrintf(L"EnsureRuntime: wartende neue Runtime (Version %d) wird ohne Download eingesetzt", s.remoteVersion);
            return CommitStagedRuntime();
        }
    }
    if (RuntimeIsCurrent(binFolderExists, s.forceDownload != FALSE, s.remoteVersion, s.localVersion, markerExists))
        return 1;
    if (RolloutHoldsBackThisDesktop(WholeRuntimeInstalled()))
        return 1;
    return InstallRuntime();
}

} // namespace

int EnsureRuntime()
{
    // Until the server's version file is read and checked it vouches for nothing; a start that
    // launches without checking (the cache is busy) must not run an archive on a keyless judgement.
    launcherState.announcement = Announcement{};
    launcherState.announcement.keyPresent = ReleaseKeyBuiltIn();
    HANDLE lock = nullptr;
    if (!AcquireLock(&lock, true))
        return 0;
    BeginCacheWork();
    int result = CheckAndInstallRuntime();
    // Kept until the install is decided: a first run takes it when the second fetch fails.
    DeleteFileW(launcherState.remoteVersionFile);
    RemoveBrokenRuntimeLeftover();
    LaunchWaitingRuntimeIfNoneInPlace();
    ReleaseRuntimeCacheLock(lock);
    // The boxes of the check and install, now that no other start waits on this one.
    EndCacheWork();
    return result;
}

HANDLE AcquireRuntimeCacheLock()
{
    HANDLE lock = nullptr;
    AcquireLock(&lock, false);
    return lock;
}

namespace {

bool AcquireLock(HANDLE* out, bool boundedWhenWhole)
{
    *out = nullptr;
    wchar_t name[kInstallLockNameCapacity];
    InstallLockName(launcherState.cacheFolder, name, kInstallLockNameCapacity);
    HANDLE lock = CreateMutexW(nullptr, FALSE, name);
    if (!lock) {
        LogSystemError(GetLastError(), name);
        return true;
    }
    DWORD waited = WaitForSingleObject(lock, 0);
    if (waited == WAIT_TIMEOUT && boundedWhenWhole && WholeRuntimeInstalled()) {
        // A whole runtime is there: this start does not wait long for another one's work.
        LogLine(L"EnsureRuntime: ein anderer Start arbeitet an der Java-Runtime, warte h\u00f6chstens 20 s, "
                L"dann startet die installierte Runtime ohne Pr\u00fcfung");
        waited = WaitForSingleObject(lock, kBusyCacheWaitMs);
        if (waited == WAIT_TIMEOUT) {
            CloseHandle(lock);
            return false;
        }
    } else if (waited == WAIT_TIMEOUT) {
        LogLine(L"EnsureRuntime: ein anderer Start arbeitet an der Java-Runtime, warte auf sein Ende");
        waited = WaitForSingleObject(lock, INFINITE);
    }
    if (waited == WAIT_ABANDONED)
        LogLine(L"EnsureRuntime: ein anderer Start endete mitten in der Arbeit an der Java-Runtime, sie wird hier fortgesetzt");
    else if (waited != WAIT_OBJECT_0) {
        LogSystemError(GetLastError(), name);
        CloseHandle(lock);
        return true;
    }
    *out = lock;
    return true;
}

} // namespace

void ReleaseRuntimeCacheLock(HANDLE lock)
{
    if (!lock)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

int ReadVersionNumber(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    // Pieces end at 599 bytes at most, far inside the buffer, so the text stays terminated.
    char buffer[kVersionBufferSize] = {};
    DWORD total = 0;
    while (total < kVersionReadLimit) {
        DWORD got = 0;
        if (!ReadFile(file, buffer + total, kVersionPieceSize, &got, nullptr) || got == 0)
            break;
        total += got;
    }
    CloseHandle(file);
    return ParseVersionText(buffer);
}

bool PackStartRefused()
{
    return packStartRefusal != 0;
}

bool RuntimePackPresent()
{
    return FileHasContent(launcherState.runtimePackFile);
}

int RunExtract()
{
    LauncherState& s = launcherState;
    if (!FileHasContent(s.stagedPackFile))
        return 0;
    wchar_t commandLine[kRuntimeTextCapacity];
    BoundedFormat(commandLine, kRuntimeTextCapacity, L"\"%s\" -y", s.stagedPackFile);
    LogLine(commandLine);

    s.extracting = TRUE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD planned = PlannedFault(kFaultStart, s.stagedPackFile);
    if (planned || !CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, s.stagingFolder,
                                   &startup, &process)) {
        DWORD code = planned ? planned : GetLastError();
        s.extracting = FALSE;
        LogSystemError(code, L"RunExtract: Java JRE konnte nicht entpackt werden");
        // Application control refuses the same pack at every start: it is kept and named, not
        // fetched again.
        if (ReportRefusedStart(code, s.stagedPackFile))
            packStartRefusal = code;
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
    DWORD exitError = known ? 0 : GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    s.extracting = FALSE;

    if (!known) {
        LogSystemError(exitError, L"RunExtract: Exitcode des Entpackers unbekannt");
        return 0;
    }
    if (exitCode != 0) {
        wchar_t line[kRuntimeTextCapacity];
        BoundedFormat(line, kRuntimeTextCapacity,
                      L"RunExtract: Java JRE nicht vollst\u00e4ndig entpackt, Exitcode %lu", exitCode);
        LogLine(line);
        return 0;
    }
    return 1;
}
