#include "worker/archive_cache.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/fault_plan.h"
#include "base/files.h"
#include "base/state.h"
#include "layout/held_files.h"
#include "log/format.h"
#include "log/log.h"
#include "net/archive_download.h"
#include "net/transfer_rules.h"
#include "provision/install_rules.h"
#include "provision/release_check.h"
#include "provision/release_rules.h"
#include "worker/archive_rules.h"
#include "worker/zip_rules.h"

namespace {

const wchar_t kArchiveServerPath[] = L"/apps/zentrix/launcher/launcher.jar";
const wchar_t kMetaName[] = L"launcher-archive.meta";
const wchar_t kArrivingPrefix[] = L"lar";
const wchar_t kSeenName[] = L"version.seen";
// This start's new version.seen or launcher-archive.meta before it is moved into place.
const wchar_t kWritingPrefix[] = L"lct";
// Files a start leaves when it is ended halfway: an arriving archive, a new small file, and the
// fixed-name new files of launchers before this one. Another start may be writing one of them now.
const wchar_t* const kLeftoverPatterns[] = {L"lar*.tmp", L"lct*.tmp", L"version.seen.new",
                                            L"launcher-archive.meta.new"};
enum : size_t { kSeenTextCapacity = 16 };
enum : unsigned { kCopyNumberLimit = 100000 };
// An arrival untouched for ten minutes (in 100 ns ticks) belongs to no running start.
const ULONGLONG kAbandonedArrivalTicks = 10ULL * 60 * 10000000;

bool CachePath(const wchar_t* name, wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\%s", launcherState.cacheFolder, name) == kFormatOk;
}

bool ReadCopy(ArchiveCopy* copy)
{
    wchar_t metaPath[kPathCapacity];
    char text[kArchiveMetaTextCapacity];
    DWORD got = 0;
    return CachePath(kMetaName, metaPath) && ReadSmallFile(metaPath, text, sizeof text, &got) &&
           ParseArchiveCopyMeta(text, got, copy);
}

// Writes text to a new file of this start's own in the cache folder (newPath, MAX_PATH characters):
// two starts at once each write and move a whole file of their own, never one the other is still
// writing. False, with nothing left behind, when it could not.
bool WriteOwnNewFile(const wchar_t* name, const char* text, size_t size, wchar_t* newPath)
{
    wchar_t path[kPathCapacity];
    if (size == 0 || !CachePath(name, path))
        return false;
    if (!GetTempFileNameW(launcherState.cacheFolder, kWritingPrefix, 0, newPath)) {
        LogSystemError(GetLastError(), L"provideGenenricLauncherJar: GetTempFileName failed");
        return false;
    }
    DWORD error = WriteWholeFile(newPath, text, static_cast<DWORD>(size));
    if (!error)
        return true;
    LogSystemError(error, path);
    DeleteFileW(newPath);
    return false;
}

// Moves this start's new file over name; the new file goes when it cannot be moved.
bool MoveOverCacheFile(const wchar_t* newPath, const wchar_t* name)
{
    wchar_t path[kPathCapacity];
    if (CachePath(name, path) && MoveHeldFile(newPath, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileW(newPath);
    return false;
}

// Written to a new file first and then moved over the old one, so a start that is ended halfway
// leaves the old text or the new, never a cut one.
bool WriteCacheText(const wchar_t* name, const char* text, size_t size)
{
    wchar_t newPath[MAX_PATH];
    return WriteOwnNewFile(name, text, size, newPath) && MoveOverCacheFile(newPath, name);
}

bool WriteCopy(const ArchiveCopy& copy)
{
    char text[kArchiveMetaTextCapacity];
    return WriteCacheText(kMetaName, text, FormatArchiveCopyMeta(copy, text, sizeof text));
}

// Starts of this cache take turns at reading version.seen again and moving their number over it:
// the move may wait out a hold (another start reading the file), and a higher number moved in by
// another start meanwhile would otherwise be replaced. False when another start kept the turn for
// the whole hold window; *turn is null when no lock could be made (the start goes on without one).
bool TakeSeenTurn(HANDLE* turn)
{
    wchar_t path[kPathCapacity];
    wchar_t name[kInstallLockNameCapacity];
    *turn = nullptr;
    if (!CachePath(kSeenName, path))
        return true;
    // Named after the file's path, so apart from the runtime's lock, named after the folder.
    InstallLockName(path, name, kInstallLockNameCapacity);
    *turn = CreateMutexW(nullptr, FALSE, name);
    if (!*turn)
        return true;
    DWORD waited = WaitForSingleObject(*turn, HeldFileWindowMs());
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return true;
    CloseHandle(*turn);
    *turn = nullptr;
    return false;
}

// Keeps the number of a verified release that has not expired when it is higher than the kept one.
void NoteVerifiedRelease(const Announcement& announcement, int kept)
{
    if (!announcement.verified || announcement.expired || announcement.version <= kept)
        return;
    char text[kSeenTextCapacity];
    int length = snprintf(text, sizeof text, "%d", announcement.version);
    wchar_t newPath[MAX_PATH];
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text ||
        !WriteOwnNewFile(kSeenName, text, static_cast<size_t>(length), newPath))
        return;
    // A start at the same moment may have kept a higher number since kept was read: read it again
    // just before the move, in turn with the other starts, so that the number does not go down.
    HANDLE turn = nullptr;
    if (!TakeSeenTurn(&turn) || KeptVerifiedRelease() >= announcement.version)
        DeleteFileW(newPath);
    else
        MoveOverCacheFile(newPath, kSeenName);
    if (turn) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
}

void ForgetCopy()
{
    wchar_t metaPath[kPathCapacity];
    if (CachePath(kMetaName, metaPath))
        DeleteFileW(metaPath);
}

// Calls visit for each file of the cache folder whose name matches pattern.
void ForEachCacheFile(const wchar_t* pattern, void (*visit)(const WIN32_FIND_DATAW& found, void* context),
                      void* context)
{
    wchar_t path[kPathCapacity];
    if (!CachePath(pattern, path))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            visit(found, context);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct NewestCopy {
    unsigned number; // 0: none
    FILETIME written;
};

void NoteNewest(const WIN32_FIND_DATAW& found, void* context)
{
    NewestCopy* newest = static_cast<NewestCopy*>(context);
    unsigned number = ArchiveCopyNumber(found.cFileName);
    if (number > newest->number) {
        newest->number = number;
        newest->written = found.ftLastWriteTime;
    }
}

NewestCopy FindNewestCopy()
{
    NewestCopy newest = {};
    ForEachCacheFile(L"launcher-*.jar", NoteNewest, &newest);
    return newest;
}

// The highest copy number in the cache folder; 0 when there is none.
unsigned NewestCopyNumber()
{
    return FindNewestCopy().number;
}

ULONGLONG Ticks(FILETIME time)
{
    ULARGE_INTEGER ticks = {};
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return ticks.QuadPart;
}

// Whether a file written at that time has been left alone for as long as any start may take from
// reading the cache's records to handing a file to its javaw (ten minutes).
bool UntouchedForAWhile(FILETIME written, ULONGLONG now)
{
    ULONGLONG then = Ticks(written);
    return now > then && now - then >= kAbandonedArrivalTicks;
}

void DeleteCacheFile(const WIN32_FIND_DATAW& found)
{
    wchar_t path[kPathCapacity];
    if (CachePath(found.cFileName, path))
        DeleteFileW(path);
}

struct CopyCleanUp {
    unsigned running; // the copy that stays current, 0: none
    unsigned newest;
    bool newestSettled;
};

void DeleteIfOld(const WIN32_FIND_DATAW& found, void* context)
{
    const CopyCleanUp* cleanUp = static_cast<const CopyCleanUp*>(context);
    if (ArchiveCopyMayBeDeleted(ArchiveCopyNumber(found.cFileName), cleanUp->running, cleanUp->newest,
                                cleanUp->newestSettled))
        DeleteCacheFile(found);
}

// An arrival or new file of another start is written by it now, or is about to be moved into place.
void DeleteIfAbandoned(const WIN32_FIND_DATAW& found, void* context)
{
    const ULONGLONG* now = static_cast<const ULONGLONG*>(context);
    if (UntouchedForAWhile(found.ftLastWriteTime, *now))
        DeleteCacheFile(found);
}

// Deletes the copies that no start can need any more (running: the copy that stays current, or null)
// and arrivals and new files that a start left behind; a file that javaw still holds cannot be
// deleted now and goes at a later start.
void DeleteOldCopies(const wchar_t* running)
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULONGLONG nowTicks = Ticks(now);
    NewestCopy newest = FindNewestCopy();
    CopyCleanUp cleanUp = {running ? ArchiveCopyNumber(running) : 0, newest.number,
                           UntouchedForAWhile(newest.written, nowTicks)};
    ForEachCacheFile(L"launcher-*.jar", DeleteIfOld, &cleanUp);
    for (const wchar_t* pattern : kLeftoverPatterns)
        ForEachCacheFile(pattern, DeleteIfAbandoned, &nowTicks);
}

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

// Whether this start's version file lets bytes of that length and digest run; when not, one
// line says why.
bool MayRun(uint64_t length, const unsigned char* sha256, int highestSeen, bool* vouched)
{
    const Announcement& announcement = launcherState.announcement;
    *vouched = false;
    if (ReleaseOlderThanSeen(announcement, highestSeen)) {
        LogPrintf(L"provideGenenricLauncherJar: Archiv des Servers wird nicht verwendet: die Versionsdatei nennt "
                  L"Version %d, dieser Cache kannte schon Version %d",
                  announcement.version, highestSeen);
        return false;
    }
    ArchiveVerdict verdict = JudgeArchive(announcement, length, sha256);
    *vouched = verdict == kArchiveVouched;
    if (verdict == kArchiveVouched || verdict == kArchiveUnchecked)
        return true;
    wchar_t reason[kLogLineCapacity];
    FormatArchiveRefusal(verdict, announcement, length, sha256, reason, kLogLineCapacity);
    LogPrintf(L"provideGenenricLauncherJar: Archiv des Servers wird nicht verwendet: %s", reason);
    return false;
}

// The arrived archive under the first free copy name above the newest, so that the newest copy
// is always the one made last; false when none could be had.
bool KeepArrived(const wchar_t* arrived, wchar_t* name)
{
    unsigned newest = NewestCopyNumber();
    for (unsigned number = newest < kCopyNumberLimit - 1 ? newest + 1 : 1; number < kCopyNumberLimit; ++number) {
        wchar_t path[kPathCapacity];
        if (!FormatArchiveCopyName(number, name, kArchiveCopyNameCapacity) || !CachePath(name, path))
            return false;
        // A name in use is passed over; the move itself waits out a scanner reading the archive.
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (MoveHeldFile(arrived, path, 0))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// A 200: the arrived archive becomes the copy (into current) when it may run.
bool TakeArrived(const wchar_t* arrived, const FetchedFile& fetched, int highestSeen, ArchiveCopy* current)
{
    bool vouched = false;
    if (!IsWholeZipFile(arrived)) {
        LogLine(L"provideGenenricLauncherJar: Archiv des Servers ist kein vollst\u00e4ndiges ZIP-Archiv");
        return false;
    }
    if (!fetched.hashed || !MayRun(fetched.length, fetched.sha256, highestSeen, &vouched))
        return false;
    ArchiveCopy copy = {};
    BoundedFormat(copy.validator, kValidatorCapacity, L"%s", fetched.validator);
    copy.length = fetched.length;
    memcpy(copy.sha256, fetched.sha256, sizeof copy.sha256);
    NoteVouching(&copy, launcherState.announcement, vouched);
    if (!KeepArrived(arrived, copy.fileName))
        return false;
    // Without its text the copy is never used; it goes with the next clean-up.
    if (!WriteCopy(copy))
        return false;
    CachePath(copy.fileName, launcherState.launcherJarPath);
    *current = copy;
    return true;
}

// A 304: the copy runs when this start's version file still lets it, without reading it again.
bool TakeCopy(ArchiveCopy* copy, const wchar_t* copyPath, int highestSeen)
{
    bool vouched = false;
    if (!MayRun(copy->length, copy->sha256, highestSeen, &vouched))
        return false;
    ArchiveCopy before = *copy;
    NoteVouching(copy, launcherState.announcement, vouched);
    if (before.vouched != copy->vouched || strcmp(before.expiresText, copy->expiresText) != 0)
        WriteCopy(*copy);
    BoundedFormat(launcherState.launcherJarPath, kPathCapacity, L"%s", copyPath);
    return true;
}

} // namespace

bool provideGenenricLauncherJar()
{
    LauncherState& s = launcherState;
    // version.txt's number counts too: with a key only a verified release can have written it.
    int kept = KeptVerifiedRelease();
    int highestSeen = kept > s.localVersion ? kept : s.localVersion;
    NoteVerifiedRelease(s.announcement, kept);
    ArchiveCopy copy = {};
    wchar_t copyPath[kPathCapacity] = {};
    bool haveCopy = ReadCopy(&copy) && CachePath(copy.fileName, copyPath) &&
                    GetFileAttributesW(copyPath) != INVALID_FILE_ATTRIBUTES;
    bool named = haveCopy && ArchiveCopyNamedByAnnouncement(copy, s.announcement);
    wchar_t arrived[kPathCapacity] = {};
    if (!named && !GetTempFileNameW(s.cacheFolder, kArrivingPrefix, 0, arrived)) {
        LogSystemError(GetLastError(), L"provideGenenricLauncherJar: GetTempFileName failed");
        arrived[0] = L'\0';
    }

    bool used = false;
    bool keepCopy = haveCopy; // whether copy is still the current one after the answer
    FetchedFile fetched = {};
    int result = kFetchFailed;
    if (named) {
        // The server could only answer that nothing changed: the copy is judged as after a 304.
        LogLine(L"provideGenenricLauncherJar: die Versionsdatei nennt die lokale Kopie des Archivs, keine Anfrage");
        result = kFetchNotModified;
    } else if (arrived[0]) {
        result = FetchFileConditionally(kArchiveServerPath, arrived, haveCopy ? copy.validator : nullptr,
                                        kArchiveByteLimit, &fetched);
    }
    switch (result) {
    case kFetchReceived:
        used = TakeArrived(arrived, fetched, highestSeen, &copy);
        keepCopy = used;
        if (!used)
            ForgetCopy(); // the server now offers something else, which may not run
        break;
    case kFetchNotModified:
        used = haveCopy && TakeCopy(&copy, copyPath, highestSeen);
        break;
    case kFetchHttpError:
        // The operator withdrew the archive.
        ForgetCopy();
        keepCopy = false;
        break;
    case kFetchNoConnection:
    case kFetchFailed:
        used = haveCopy && ArchiveCopyUsableOffline(copy, s.announcement, UtcNow());
        if (used) {
            LogLine(L"provideGenenricLauncherJar: keine Antwort vom Server, die lokale Kopie des Archivs wird verwendet");
            BoundedFormat(s.launcherJarPath, kPathCapacity, L"%s", copyPath);
        }
        break;
    }
    if (arrived[0])
        DeleteFileW(arrived); // gone already when it became the copy

    DeleteOldCopies(keepCopy ? copy.fileName : nullptr);
    if (used)
        LogPrintf(L"Generisches Launcher-Archiv wird verwendet: %s", s.launcherJarPath);
    else
        LogPrintf(L"Eingebettetes Launcher-Archiv wird verwendet: %s", s.launcherJarPath);
    return used;
}
