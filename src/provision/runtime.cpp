#include <windows.h>

#include <shlwapi.h>

#include "provision/runtime.h"

#include "base/files.h"
#include "layout/folders.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/authdownload.h"
#include "net/download.h"
#include "net/pack_download.h"
#include "net/resume_rules.h"
#include "provision/install_rules.h"
#include "provision/refusal_rules.h"
#include "provision/release_check.h"
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

// The installed runtime was unpacked to its end (marker) and has its javaw.
bool WholeRuntimeInstalled()
{
    wchar_t javaw[kPathCapacity];
    if (BoundedFormat(javaw, kPathCapacity, L"%s.exe", launcherState.javawPath) != kFormatOk)
        return false;
    return IsFile(launcherState.unpackMarkerFile) && IsFile(javaw);
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

bool MoveLogged(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    if (MoveFileExW(from, to, flags))
        return true;
    LogSystemError(GetLastError(), from);
    return false;
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

// A start ended between setting the installed runtime aside and moving the new one into place
// left no runtime but the set-aside one, which is still whole and matches version.txt.
void RestoreSetAsideRuntime()
{
    LauncherState& s = launcherState;
    if (Exists(s.runtimeFolder) || !Exists(s.setAsideRuntimeFolder))
        return;
    if (MoveLogged(s.setAsideRuntimeFolder, s.runtimeFolder, 0))
        LogLine(L"EnsureRuntime: bisherige Runtime nach abgebrochener Installation wiederhergestellt");
}

// Clears what an earlier install left; false when the set-aside runtime is the only whole one (it
// could not be put back), which must not be deleted, so no install runs.
bool ClearInstallLeftovers()
{
    LauncherState& s = launcherState;
    if (Exists(s.setAsideRuntimeFolder) && !WholeRuntimeInstalled()) {
        LogLine(L"EnsureRuntime: jre.old bleibt, solange jre keine vollst\u00e4ndige Runtime ist; keine Installation");
        return false;
    }
    WaitForEarlierExtractor();
    DeleteInstallFolder(s.stagingFolder, kStagingFolderName);
    DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
    DeleteFileQuietly(s.newVersionFile);
    return true;
}

// Leaves the cache as it was before the install began, so that the installed runtime and its
// version.txt go on as they are.
void DiscardInstall()
{
    DeleteFileQuietly(launcherState.runtimePackFile);
    DeleteInstallFolder(launcherState.stagingFolder, kStagingFolderName);
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
    if (!DownloadWithAuthentication(s.runtimePackUrlPath, 1, s.runtimePackFile, expectedSize ? expectedSize : kNoByteLimit))
        return kPackFailed;
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
    HoldWarning(text);
}

void ReportPackDownloadFailure()
{
    wchar_t text[kRuntimeTextCapacity];
    BoundedFormat(text, kRuntimeTextCapacity, L"Jre download failed host=%s, path=%s, to file %s",
                  launcherState.downloadHost, launcherState.runtimePackUrlPath, launcherState.runtimePackFile);
    LogLine(text);
    HoldWarning(text);
}

// A proxy's or portal's page, or an empty answer, must not replace a working runtime. refusedLine
// (kRefusalLineCapacity characters) receives the line of a refusal.
bool DownloadedPackIsProgram(wchar_t* refusedLine)
{
    unsigned char head[kProgramHeadSize];
    FileStart start;
    DWORD got = ReadFileStart(launcherState.runtimePackFile, head, kProgramHeadSize, &start);
    if (IsWindowsProgramImage(head, got))
        return true;
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
    FileStart start;
    if (!RefusalPath(path))
        return false;
    DWORD got = ReadFileStart(path, text, sizeof text, &start);
    return start.opened && start.error == 0 && start.size == got && got < sizeof text && got % sizeof(wchar_t) == 0 &&
           ParsePackRefusal(text, got / sizeof(wchar_t), refusal);
}

void KeepRefusal(const PackRefusal& refusal)
{
    wchar_t path[kPathCapacity];
    wchar_t text[kPackRefusalTextCapacity];
    size_t length = FormatPackRefusal(refusal, text, kPackRefusalTextCapacity);
    if (length == 0 || !RefusalPath(path))
        return;
    // A cut record would never read back: none is kept then.
    DWORD code = WriteWholeFile(path, text, static_cast<DWORD>(length * sizeof(wchar_t)));
    if (code)
        LogSystemError(code, path);
}

void ForgetRefusal()
{
    wchar_t path[kPathCapacity];
    if (RefusalPath(path))
        DeleteFileQuietly(path);
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
                   RefusalStillApplies(*earlier, current->source, current->versionDigest);
    if (!applies)
        ForgetRefusal();
    return applies;
}

// The pack runs from inside the staging folder, so that a pack that unpacks into its current
// folder and one that unpacks next to itself both unpack there.
bool StagePack()
{
    LauncherState& s = launcherState;
    if (!CreateDirectoryW(s.stagingFolder, nullptr)) {
        DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            LogSystemError(code, s.stagingFolder);
            return false;
        }
    }
    return MoveLogged(s.runtimePackFile, s.stagedPackFile, MOVEFILE_REPLACE_EXISTING);
}

// The pack stays in the cache folder after the install, as it always has.
void ReturnStagedPack()
{
    if (Exists(launcherState.stagedPackFile))
        MoveLogged(launcherState.stagedPackFile, launcherState.runtimePackFile, MOVEFILE_REPLACE_EXISTING);
}

bool UnpackStagedPack()
{
    bool unpacked = RunExtract() && IsFile(launcherState.stagedJavawFile);
    ReturnStagedPack();
    if (!unpacked)
        LogLine(L"EnsureRuntime: neue Runtime unvollst\u00e4ndig entpackt, bisherige Runtime bleibt");
    return unpacked;
}

void ReplaceLocalVersionFile()
{
    LauncherState& s = launcherState;
    if (!IsFile(s.newVersionFile)) {
        LogLine(L"EnsureRuntime: Versionsdatei des Servers fehlt, version.txt bleibt");
        return;
    }
    MoveLogged(s.newVersionFile, s.localVersionFile, MOVEFILE_REPLACE_EXISTING);
}

// The switch: the installed runtime goes aside, the staged one (already marked) takes its place,
// and only then does version.txt name the new version. A runtime that cannot be moved (a running
// javaw holds it) stays and is launched; the new one is installed by a later start.
int CommitStagedRuntime()
{
    LauncherState& s = launcherState;
    WriteEmptyFile(s.stagedMarkerFile);
    bool hadRuntime = Exists(s.runtimeFolder);
    if (hadRuntime && !MoveLogged(s.runtimeFolder, s.setAsideRuntimeFolder, 0)) {
        // Checked, unpacked and marked, the new runtime waits with its version file; a later start
        // that can move the old one aside puts it in place without downloading it again.
        LogPrintf(L"EnsureRuntime: bisherige Runtime ist in Benutzung und bleibt, die neue (Version %d) wartet in "
                  L"jre.staging auf einen sp\u00e4teren Start",
                  ReadVersionNumber(s.newVersionFile));
        return 0;
    }
    if (!MoveLogged(s.stagedRuntimeFolder, s.runtimeFolder, 0)) {
        if (hadRuntime)
            MoveLogged(s.setAsideRuntimeFolder, s.runtimeFolder, 0);
        LogLine(L"EnsureRuntime: neue Runtime nicht an ihren Platz gebracht, bisherige Runtime bleibt");
        DiscardInstall();
        return 0;
    }
    ReplaceLocalVersionFile();
    LogPrintf(L"EnsureRuntime: neue Runtime installiert, Version %d", ReadVersionNumber(s.localVersionFile));
    DeleteInstallFolder(s.setAsideRuntimeFolder, kSetAsideFolderName);
    DeleteInstallFolder(s.stagingFolder, kStagingFolderName);
    return 1;
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
    // The file that becomes version.txt must have arrived whole and name a number, and with a key
    // the very release that decided the install, not an older one than the installed runtime.
    if (!versionFetched) {
        LogLine(L"EnsureRuntime: Versionsdatei des Servers nicht vollst\u00e4ndig geladen, keine Installation, "
                L"version.txt bleibt");
        DeleteFileQuietly(s.newVersionFile);
        return 0;
    }
    if (!CheckSecondFetch(s.newVersionFile, s.remoteVersion, s.localVersion)) {
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
    // The digest is taken while the pack arrives, on a second thread, so checking it costs the
    // first run next to nothing.
    PackExpectation expected = ReadPackExpectation(s.newVersionFile);
    int fetched = FetchRuntimePack(&room, expected.needsDigest ? &digest : nullptr, expected.size,
                                   refusedBefore ? earlier.validator : nullptr, refusal.validator);
    if (fetched == kPackNotModified) {
        // The same bytes as last time: the same refusal, without fetching them again.
        LogLine(earlier.line);
        DiscardInstall();
        ReportPackDownloadFailure();
        return 0;
    }
    if (fetched != kPackDownloaded || !DownloadedPackIsProgram(refusal.line) ||
        !CheckRuntimePack(s.newVersionFile, s.runtimePackFile, &digest, refusal.line, kRefusalLineCapacity)) {
        if (refusal.line[0])
            KeepRefusal(refusal);
        DiscardInstall();
        if (fetched == kPackNoRoom)
            ReportNoRoomForPack(room);
        else
            ReportPackDownloadFailure();
        return 0;
    }
    ForgetRefusal();
    if (!StagePack() || !UnpackStagedPack()) {
        DiscardInstall();
        return 0;
    }
    return CommitStagedRuntime();
}

// A new runtime that an earlier start checked, unpacked and marked but could not put in place
// (the installed one was in use) waits in the staging folder with its version file.
bool PendingInstallExists()
{
    LauncherState& s = launcherState;
    return IsFile(s.stagedMarkerFile) && IsFile(s.stagedJavawFile) && IsFile(s.newVersionFile);
}

void DiscardPendingInstall(const wchar_t* reason)
{
    LogPrintf(L"EnsureRuntime: wartende neue Runtime verworfen: %s", reason);
    DeleteInstallFolder(launcherState.stagingFolder, kStagingFolderName);
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
    DeleteFileW(s.remoteVersionFile);
    if (s.announcement.expired) {
        LogPrintf(L"EnsureRuntime: Versionsdatei des Servers seit %hs abgelaufen, keine Installation",
                  s.announcement.expiresText);
        return 0;
    }

    if (!s.installPathsCut && PendingInstallExists()) {
        if (!s.announcement.readsNumber)
            return 0; // no answer from the server: the waiting runtime waits for a start that has one
        if (PendingInstallStillWanted()) {
            LogPrintf(L"EnsureRuntime: wartende neue Runtime (Version %d) wird ohne Download eingesetzt", s.remoteVersion);
            return CommitStagedRuntime();
        }
    }
    if (RuntimeIsCurrent(binFolderExists, s.forceDownload != FALSE, s.remoteVersion, s.localVersion, markerExists))
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
    int result = CheckAndInstallRuntime();
    ReleaseRuntimeCacheLock(lock);
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
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, s.stagingFolder, &startup,
                        &process)) {
        DWORD code = GetLastError();
        s.extracting = FALSE;
        LogSystemError(code, L"RunExtract: Java JRE konnte nicht entpackt werden");
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
