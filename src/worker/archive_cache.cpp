#include "worker/archive_cache.h"

#include <windows.h>

#include <string.h>

#include "base/files.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/archive_download.h"
#include "net/transfer_rules.h"
#include "provision/release_check.h"
#include "provision/release_rules.h"
#include "worker/archive_rules.h"
#include "worker/zip_rules.h"

namespace {

const wchar_t kArchiveServerPath[] = L"/apps/zentrix/launcher/launcher.jar";
const wchar_t kMetaName[] = L"launcher-archive.meta";
const wchar_t kArrivingPrefix[] = L"lar";
enum : unsigned { kCopyNumberLimit = 100000 };

bool CachePath(const wchar_t* name, wchar_t* path)
{
    return BoundedFormat(path, kPathCapacity, L"%s\\%s", launcherState.cacheFolder, name) == kFormatOk;
}

bool ReadCopy(ArchiveCopy* copy)
{
    wchar_t metaPath[kPathCapacity];
    char text[kArchiveMetaTextCapacity];
    FileStart start;
    if (!CachePath(kMetaName, metaPath))
        return false;
    DWORD got = ReadFileStart(metaPath, text, sizeof text, &start);
    return start.opened && start.error == 0 && start.size == got && got < sizeof text &&
           ParseArchiveCopyMeta(text, got, copy);
}

// Written to a new file first and then moved over the old one, so a start that is ended halfway
// leaves the old text or the new, never a cut one.
bool WriteCopy(const ArchiveCopy& copy)
{
    wchar_t metaPath[kPathCapacity];
    wchar_t newPath[kPathCapacity];
    char text[kArchiveMetaTextCapacity];
    size_t size = FormatArchiveCopyMeta(copy, text, sizeof text);
    if (size == 0 || !CachePath(kMetaName, metaPath) ||
        BoundedFormat(newPath, kPathCapacity, L"%s.new", metaPath) != kFormatOk)
        return false;
    DWORD error = WriteWholeFile(newPath, text, static_cast<DWORD>(size));
    if (!error && MoveFileExW(newPath, metaPath, MOVEFILE_REPLACE_EXISTING))
        return true;
    LogSystemError(error ? error : GetLastError(), metaPath);
    DeleteFileW(newPath);
    return false;
}

void ForgetCopy()
{
    wchar_t metaPath[kPathCapacity];
    if (CachePath(kMetaName, metaPath))
        DeleteFileW(metaPath);
}

// Deletes the copies other than keep (may be null) and what arriving archives left; a file that
// javaw still holds cannot be deleted now and goes at a later start.
void DeleteOtherCopies(const wchar_t* keep)
{
    wchar_t pattern[kPathCapacity];
    const wchar_t* patterns[] = {L"launcher-*.jar", L"lar*.tmp"};
    for (const wchar_t* name : patterns) {
        if (!CachePath(name, pattern))
            continue;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            bool copy = IsArchiveCopyName(found.cFileName);
            bool arriving = _wcsnicmp(found.cFileName, kArrivingPrefix, 3) == 0;
            if ((!copy && !arriving) || (keep && _wcsicmp(found.cFileName, keep) == 0))
                continue;
            wchar_t path[kPathCapacity];
            if (CachePath(found.cFileName, path))
                DeleteFileW(path);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
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
bool MayRun(uint64_t length, const unsigned char* sha256, bool* vouched)
{
    const Announcement& announcement = launcherState.announcement;
    ArchiveVerdict verdict = JudgeArchive(announcement, length, sha256);
    *vouched = verdict == kArchiveVouched;
    if (verdict == kArchiveVouched || verdict == kArchiveUnchecked)
        return true;
    wchar_t reason[kLogLineCapacity];
    FormatArchiveRefusal(verdict, announcement, length, sha256, reason, kLogLineCapacity);
    LogPrintf(L"provideGenenricLauncherJar: Archiv des Servers wird nicht verwendet: %s", reason);
    return false;
}

// The arrived archive under the first free copy name; false when none could be had.
bool KeepArrived(const wchar_t* arrived, wchar_t* name)
{
    for (unsigned number = 1; number < kCopyNumberLimit; ++number) {
        wchar_t path[kPathCapacity];
        if (!FormatArchiveCopyName(number, name, kArchiveCopyNameCapacity) || !CachePath(name, path))
            return false;
        if (MoveFileExW(arrived, path, 0))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            LogSystemError(error, path);
            return false;
        }
    }
    return false;
}

// A 200: the arrived archive becomes the copy (into current) when it may run.
bool TakeArrived(const wchar_t* arrived, const FetchedFile& fetched, ArchiveCopy* current)
{
    bool vouched = false;
    if (!IsWholeZipFile(arrived)) {
        LogLine(L"provideGenenricLauncherJar: Archiv des Servers ist kein vollst\u00e4ndiges ZIP-Archiv");
        return false;
    }
    if (!fetched.hashed || !MayRun(fetched.length, fetched.sha256, &vouched))
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
bool TakeCopy(ArchiveCopy* copy, const wchar_t* copyPath)
{
    bool vouched = false;
    if (!MayRun(copy->length, copy->sha256, &vouched))
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
    ArchiveCopy copy = {};
    wchar_t copyPath[kPathCapacity] = {};
    bool haveCopy = ReadCopy(&copy) && CachePath(copy.fileName, copyPath) &&
                    GetFileAttributesW(copyPath) != INVALID_FILE_ATTRIBUTES;
    wchar_t arrived[kPathCapacity] = {};
    if (!GetTempFileNameW(s.cacheFolder, kArrivingPrefix, 0, arrived)) {
        LogSystemError(GetLastError(), L"provideGenenricLauncherJar: GetTempFileName failed");
        arrived[0] = L'\0';
    }

    bool used = false;
    bool keepCopy = haveCopy; // whether copy is still the current one after the answer
    FetchedFile fetched = {};
    int result = arrived[0] ? FetchFileConditionally(kArchiveServerPath, arrived, haveCopy ? copy.validator : nullptr,
                                                     kArchiveByteLimit, &fetched)
                            : kFetchFailed;
    switch (result) {
    case kFetchReceived:
        used = TakeArrived(arrived, fetched, &copy);
        keepCopy = used;
        if (!used)
            ForgetCopy(); // the server now offers something else, which may not run
        break;
    case kFetchNotModified:
        used = haveCopy && TakeCopy(&copy, copyPath);
        break;
    case kFetchHttpError:
        if (fetched.status != 407) {
            // The operator withdrew the archive.
            ForgetCopy();
            keepCopy = false;
            break;
        }
        [[fallthrough]]; // a proxy login: the server was not asked
    case kFetchNoConnection:
    case kFetchFailed:
        used = haveCopy && ArchiveCopyUsableOffline(copy, ReleaseKeyBuiltIn(), UtcNow());
        if (used) {
            LogLine(L"provideGenenricLauncherJar: keine Antwort vom Server, die lokale Kopie des Archivs wird verwendet");
            BoundedFormat(s.launcherJarPath, kPathCapacity, L"%s", copyPath);
        }
        break;
    }
    if (arrived[0])
        DeleteFileW(arrived); // gone already when it became the copy

    DeleteOtherCopies(keepCopy ? copy.fileName : nullptr);
    if (used)
        LogPrintf(L"Generisches Launcher-Archiv wird verwendet: %s", s.launcherJarPath);
    else
        LogPrintf(L"Eingebettetes Launcher-Archiv wird verwendet: %s", s.launcherJarPath);
    return used;
}
