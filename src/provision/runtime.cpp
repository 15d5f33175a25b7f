#include <windows.h>

#include <shlwapi.h>

#include "provision/runtime.h"

#include "app/folders.h"
#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/authdownload.h"
#include "net/download.h"
#include "provision/version_rules.h"

namespace {

enum : int {
    kVersionBufferSize = 1000,
    kVersionPieceSize = 100,
    kVersionReadLimit = 500,
    kRuntimeTextCapacity = 4096,
    kPackInUsePollMs = 250,
    kPackInUseLimitMs = 5 * 60 * 1000,
};

// The direct download first; the proxy-authenticating one only when the direct one failed.
int DownloadTwoStep(const wchar_t* serverPath, const wchar_t* targetFile)
{
    if (DownloadfileDirect(serverPath, 1, targetFile, true))
        return 1;
    return DownloadWithAuthentication(serverPath, 1, targetFile);
}

bool MarkerFileExists()
{
    DWORD attributes = GetFileAttributesW(launcherState.unpackMarkerFile);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteUnpackMarker()
{
    HANDLE marker = CreateFileW(launcherState.unpackMarkerFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
}

// The marker of the installed runtime goes before version.txt is rewritten: a run that ends after
// the rewrite must not take the old runtime for the new version.
void RemoveUnpackMarker()
{
    if (!DeleteFileW(launcherState.unpackMarkerFile)) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            LogSystemError(code, launcherState.unpackMarkerFile);
    }
}

// True when the pack file exists but cannot be opened for writing because another process holds
// it: an extractor that an earlier instance started, and that outlived that instance, is running.
bool RuntimePackInUse()
{
    HANDLE file = CreateFileW(launcherState.runtimePackFile, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    DWORD code = GetLastError();
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Waits until that extractor has ended: downloading over it fails, and it would write into the
// runtime folder while this run unpacks there. Escape still works, as the extractor is not ours.
void WaitForEarlierExtractor()
{
    if (!RuntimePackInUse())
        return;
    LogLine(L"RunExtract: Entpacker eines fr\u00fcheren Starts l\u00e4uft noch, warte auf sein Ende");
    DWORD waited = 0;
    while (RuntimePackInUse() && waited < kPackInUseLimitMs) {
        Sleep(kPackInUsePollMs);
        waited += kPackInUsePollMs;
    }
    if (waited >= kPackInUseLimitMs)
        LogLine(L"RunExtract: Runtime-Paket bleibt belegt, Installation wird trotzdem versucht");
}

void ReportPackDownloadFailure()
{
    wchar_t text[kRuntimeTextCapacity];
    BoundedFormat(text, kRuntimeTextCapacity, L"Jre download failed host=%s, path=%s, to file %s",
                  launcherState.downloadHost, launcherState.runtimePackUrlPath, launcherState.runtimePackFile);
    LogLine(text);
    MessageBoxW(nullptr, text, L"tarvolin Launcher Fehler", MB_OK | MB_ICONWARNING);
}

// version.txt already holds the server's new number; without it the next run installs again
// instead of taking the old runtime for the new one.
void ForgetLocalVersion()
{
    if (!DeleteFileW(launcherState.localVersionFile)) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND)
            LogSystemError(code, launcherState.localVersionFile);
    }
}

} // namespace

int EnsureRuntime()
{
    launcherState.localVersion = ReadVersionNumber(launcherState.localVersionFile);
    bool markerExists = MarkerFileExists();
    bool binFolderExists = PathFileExistsW(launcherState.runtimeBinFolder) != FALSE;

    DownloadTwoStep(launcherState.versionUrlPath, launcherState.remoteVersionFile);
    launcherState.remoteVersion = ReadVersionNumber(launcherState.remoteVersionFile);
    DeleteFileW(launcherState.remoteVersionFile);

    if (RuntimeIsCurrent(binFolderExists, launcherState.forceDownload != FALSE, launcherState.remoteVersion,
                         launcherState.localVersion, markerExists))
        return 1;

    if (markerExists)
        RemoveUnpackMarker();
    // Fetched again rather than copied, as the server's file is the one to trust.
    DownloadTwoStep(launcherState.versionUrlPath, launcherState.localVersionFile);
    wchar_t line[kRuntimeTextCapacity];
    BoundedFormat(line, kRuntimeTextCapacity, L"localVersion=%d, remoteVersion=%d, ... need to dl java",
                  launcherState.localVersion, launcherState.remoteVersion);
    LogLine(line);

    WaitForEarlierExtractor();
    if (!DownloadTwoStep(launcherState.runtimePackUrlPath, launcherState.runtimePackFile)) {
        // What arrived of the pack is of no use and, on a full disk, holds the room that the log
        // and the launcher's own files still need.
        DeleteFileW(launcherState.runtimePackFile);
        ReportPackDownloadFailure();
        ForgetLocalVersion();
        // The old runtime is untouched and as complete as before; without version.txt the next
        // run installs all the same.
        if (markerExists)
            WriteUnpackMarker();
        return 0;
    }

    DeleteCacheFolderTree(launcherState.runtimeFolder, L"jre", launcherState.cacheFolderCut != FALSE);
    if (!RunExtract())
        return 0;
    WriteUnpackMarker();
    return 1;
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
    HANDLE file = CreateFileW(launcherState.runtimePackFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    return low != 0 || high != 0;
}

int RunExtract()
{
    if (!RuntimePackPresent())
        return 0;
    wchar_t commandLine[kRuntimeTextCapacity];
    BoundedFormat(commandLine, kRuntimeTextCapacity, L"\"%s\" -y", launcherState.runtimePackFile);
    LogLine(commandLine);

    launcherState.extracting = TRUE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, launcherState.cacheFolder,
                        &startup, &process)) {
        DWORD code = GetLastError();
        launcherState.extracting = FALSE;
        LogSystemError(code, L"RunExtract: Java JRE konnte nicht entpackt werden");
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
    DWORD exitError = known ? 0 : GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    launcherState.extracting = FALSE;

    if (!known) {
        LogSystemError(exitError, L"RunExtract: Exitcode des Entpackers unbekannt");
        return 0;
    }
    if (exitCode != 0) {
        // A pack that failed halfway must not count as installed, so no marker follows.
        wchar_t line[kRuntimeTextCapacity];
        BoundedFormat(line, kRuntimeTextCapacity,
                      L"RunExtract: Java JRE nicht vollst\u00e4ndig entpackt, Exitcode %lu", exitCode);
        LogLine(line);
        return 0;
    }
    return 1;
}
