#include "layout/folders.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <wchar.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

const wchar_t kCompanyFolder[] = L"tarvolin";
const wchar_t kCacheFolderName[] = L"zentrixjre";

void CreateFolderLogged(const wchar_t* folder)
{
    if (!CreateDirectoryW(folder, nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            LogSystemError(error, L"Verzeichnis konnte nicht angelegt werden");
    }
}

// The local application data folder; the temporary folder when the shell cannot name it, so
// that the log and the cache still land in a per-user place.
void GetLocalAppDataFolder(wchar_t* folder)
{
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK && folder[0])
        return;
    DWORD length = GetTempPathW(kPathCapacity, folder);
    if (length == 0 || length > kPathCapacity)
        folder[0] = 0;
    else if (folder[length - 1] == L'\\')
        folder[length - 1] = 0;
}

void NoteProgramFolder()
{
    GetModuleFileNameW(nullptr, launcherState.programFolder, kPathCapacity);
    LogSystemError(GetLastError(), launcherState.programFolder);
    PathRemoveFileSpecW(launcherState.programFolder);
}

void NoteSystemRuntimeBase()
{
    wchar_t* programFiles = nullptr;
    SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &programFiles);
    BoundedFormat(launcherState.systemRuntimeBase, kPathCapacity, L"%s", programFiles);
    LogSystemError(GetLastError(), launcherState.systemRuntimeBase);
    wchar_t base[kPathCapacity];
    BoundedFormat(base, kPathCapacity, L"%s", launcherState.systemRuntimeBase);
    BoundedFormat(launcherState.systemRuntimeBase, kPathCapacity, L"%s\\tarvolin_zentrix\\zentrixjre", base);
    if (programFiles)
        CoTaskMemFree(programFiles);
}

const wchar_t* LastComponent(const wchar_t* path)
{
    const wchar_t* last = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            last = p + 1;
    return last;
}

enum : size_t { kLongPathCapacity = 32768 };
const wchar_t kLongPathPrefix[] = L"\\\\?\\";
const size_t kLongPathPrefixLength = 4;

bool IsDotEntry(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// Walks the folder in path (long-path form, length characters) and says whether every entry's
// path fits the shell's 259 characters. A folder that cannot be listed counts as not fitting.
// Linked folders are not followed: the shell removes the link, not what it points to.
bool EntriesFitShellPaths(wchar_t* path, size_t length)
{
    if (length + 2 >= kLongPathCapacity)
        return false;
    BoundedFormat(path + length, kLongPathCapacity - length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    path[length] = 0;
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool fits = true;
    do {
        if (IsDotEntry(found.cFileName))
            continue;
        size_t nameLength = wcslen(found.cFileName);
        size_t childLength = length + 1 + nameLength;
        if (childLength - kLongPathPrefixLength >= size_t(kPathCapacity) || childLength >= kLongPathCapacity) {
            fits = false;
            break;
        }
        DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            path[length] = L'\\';
            BoundedFormat(path + length + 1, kLongPathCapacity - length - 1, L"%s", found.cFileName);
            fits = EntriesFitShellPaths(path, childLength);
            path[length] = 0;
        }
    } while (fits && FindNextFileW(search, &found));
    FindClose(search);
    return fits;
}

} // namespace

bool TreeFitsShellPaths(const wchar_t* folder)
{
    size_t length = wcslen(folder);
    if (length >= size_t(kPathCapacity))
        return false;
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return true; // nothing there for the shell to delete
    wchar_t* path = static_cast<wchar_t*>(calloc(kLongPathCapacity, sizeof(wchar_t)));
    if (!path)
        return false;
    BoundedFormat(path, kLongPathCapacity, L"%s%s", kLongPathPrefix, folder);
    bool fits = EntriesFitShellPaths(path, kLongPathPrefixLength + length);
    free(path);
    return fits;
}

void InitFolders()
{
    wchar_t localAppData[kPathCapacity] = {};
    GetLocalAppDataFolder(localAppData);

    wchar_t baseFolder[kPathCapacity];
    BoundedFormat(baseFolder, kPathCapacity, L"%s\\%s", localAppData, kCompanyFolder);
    unsigned cut = BoundedFormat(launcherState.cacheFolder, kPathCapacity, L"%s\\%s\\%s", localAppData,
                                 kCompanyFolder, kCacheFolderName);
    launcherState.cacheFolderCut = cut != kFormatOk;
    BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s\\%s", baseFolder, L"DesktopLauncher.log");

    CreateFolderLogged(baseFolder);
    CreateFolderLogged(launcherState.cacheFolder);
    NoteProgramFolder();
    NoteSystemRuntimeBase();
}

void BuildPaths()
{
    LauncherState& s = launcherState;
    BoundedFormat(s.downloadHost, kPathCapacity, L"%s", s.defaultHost);
    BoundedFormat(s.runtimeSourceUrl, kPathCapacity, L"%s%s", s.defaultHost, s.runtimeServerPath);
    BoundedFormat(s.runtimePackUrlPath, kPathCapacity, L"%s%s", s.runtimeServerPath, L"jre_pack.exe");
    BoundedFormat(s.versionUrlPath, kPathCapacity, L"%s%s", s.runtimeServerPath, L"version.txt");
    BoundedFormat(s.javawPath, kPathCapacity, L"%s\\jre\\bin\\javaw", s.cacheFolder);
    BoundedFormat(s.unpackMarkerFile, kPathCapacity, L"%s\\jre\\unpack.txt", s.cacheFolder);
    BoundedFormat(s.runtimeBinFolder, kPathCapacity, L"%s\\jre\\bin", s.cacheFolder);

    // The paths the install moves, replaces and deletes.
    const wchar_t* cache = s.cacheFolder;
    const wchar_t* staging = kStagingFolderName;
    unsigned cut = kFormatOk;
    cut |= BoundedFormat(s.runtimePackFile, kPathCapacity, L"%s\\jre_pack.exe", cache);
    cut |= BoundedFormat(s.localVersionFile, kPathCapacity, L"%s\\version.txt", cache);
    cut |= BoundedFormat(s.remoteVersionFile, kPathCapacity, L"%s\\version.tmp", cache);
    cut |= BoundedFormat(s.newVersionFile, kPathCapacity, L"%s\\version.new", cache);
    cut |= BoundedFormat(s.partialPackFile, kPathCapacity, L"%s\\jre_pack.part", cache);
    cut |= BoundedFormat(s.partialPackMetaFile, kPathCapacity, L"%s\\jre_pack.part.meta", cache);
    cut |= BoundedFormat(s.runtimeFolder, kPathCapacity, L"%s\\jre", cache);
    cut |= BoundedFormat(s.setAsideRuntimeFolder, kPathCapacity, L"%s\\%s", cache, kSetAsideFolderName);
    cut |= BoundedFormat(s.stagingFolder, kPathCapacity, L"%s\\%s", cache, staging);
    cut |= BoundedFormat(s.stagedPackFile, kPathCapacity, L"%s\\%s\\jre_pack.exe", cache, staging);
    cut |= BoundedFormat(s.stagedRuntimeFolder, kPathCapacity, L"%s\\%s\\jre", cache, staging);
    cut |= BoundedFormat(s.stagedJavawFile, kPathCapacity, L"%s\\%s\\jre\\bin\\javaw.exe", cache, staging);
    cut |= BoundedFormat(s.stagedMarkerFile, kPathCapacity, L"%s\\%s\\jre\\unpack.txt", cache, staging);
    s.installPathsCut = cut != kFormatOk || s.cacheFolderCut;
}

int DeleteFolderTree(const wchar_t* folder)
{
    // The shell cannot delete a path longer than 259 characters, and under some shells it then
    // works on the current folder instead: such a tree is never handed to it.
    if (!TreeFitsShellPaths(folder))
        return ERROR_FILENAME_EXCED_RANGE;
    size_t length = wcslen(folder);
    // The shell takes a list of names ended by a double terminator.
    wchar_t* list = static_cast<wchar_t*>(calloc(length + 4, sizeof(wchar_t)));
    if (!list)
        return ERROR_NOT_ENOUGH_MEMORY;
    wmemcpy(list, folder, length);

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = list;
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    operation.fAnyOperationsAborted = FALSE;
    operation.hNameMappings = nullptr;
    operation.lpszProgressTitle = nullptr;
    int result = SHFileOperationW(&operation);

    free(list);
    return result;
}

bool IsDeletableFolder(const wchar_t* folder, const wchar_t* leafName, bool wasCut)
{
    if (wasCut || !folder || !folder[0])
        return false;
    const wchar_t* leaf = LastComponent(folder);
    return leaf != folder && _wcsicmp(leaf, leafName) == 0;
}

void LogRefusedDeletion(const wchar_t* folder)
{
    wchar_t line[kLogLineCapacity];
    BoundedFormat(line, kLogLineCapacity, L"DeleteFolderTree: %s wird nicht gel\u00f6scht", folder);
    LogLine(line);
}

int DeleteCacheFolderTree(const wchar_t* folder, const wchar_t* leafName, bool wasCut)
{
    if (!IsDeletableFolder(folder, leafName, wasCut)) {
        LogRefusedDeletion(folder);
        return ERROR_INVALID_NAME;
    }
    int result = DeleteFolderTree(folder);
    if (result == ERROR_FILENAME_EXCED_RANGE)
        LogRefusedDeletion(folder);
    return result;
}
