#include "provision/runtime.h"

#include <windows.h>

#include <shlwapi.h>

#include "app/folders.h"
#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/authdownload.h"
#include "net/download.h"
#include "provision/version_rules.h"

namespace {

int DownloadWithFallback(const wchar_t* serverPath, const wchar_t* targetFile)
{
    if (DownloadfileDirect(serverPath, 1, targetFile, true))
        return 1;
    return DownloadWithAuthentication(serverPath, 1, targetFile);
}

bool MarkerExists()
{
    DWORD attributes = GetFileAttributesW(launcherState.unpackMarkerFile);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ReportPackDownloadFailure()
{
    wchar_t text[4096];
    BoundedFormat(text, 4096, L"Jre download failed host=%s, path=%s, to file %s", launcherState.downloadHost,
                  launcherState.runtimePackUrlPath, launcherState.runtimePackFile);
    LogLine(text);
    MessageBoxW(nullptr, text, L"tarvolin Launcher Fehler", MB_OK | MB_ICONWARNING);
}

void WriteUnpackMarker()
{
    HANDLE marker = CreateFileW(launcherState.unpackMarkerFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
}

} // namespace

int ReadVersionNumber(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    char text[1000] = {};
    DWORD total = 0;
    DWORD read = 0;
    while (total < 500 && ReadFile(file, text + total, 100, &read, nullptr) && read > 0)
        total += read;
    CloseHandle(file);
    return ParseVersionText(text);
}

bool RuntimePackPresent()
{
    HANDLE file = CreateFileW(launcherState.runtimePackFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size != 0 && size != INVALID_FILE_SIZE;
}

int RunExtract()
{
    if (!RuntimePackPresent())
        return 0;
    wchar_t commandLine[4096];
    BoundedFormat(commandLine, 4096, L"\"%s\" -y", launcherState.runtimePackFile);
    LogLine(commandLine);

    launcherState.extracting = TRUE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, launcherState.cacheFolder,
                        &startup, &process)) {
        DWORD error = GetLastError();
        launcherState.extracting = FALSE;
        LogSystemError(error, L"RunExtract: Java JRE konnte nicht entpackt werden");
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    launcherState.extracting = FALSE;
    if (exitCode != 0) {
        // A pack that failed halfway must not count as installed.
        wchar_t line[128];
        BoundedFormat(line, 128, L"RunExtract: Entpacken mit Exit-Code %d beendet", static_cast<int>(exitCode));
        LogLine(line);
        return 0;
    }
    return 1;
}

int EnsureRuntime()
{
    LauncherState& s = launcherState;
    s.localVersion = ReadVersionNumber(s.localVersionFile);
    bool markerExists = MarkerExists();
    bool binFolderExists = PathFileExistsW(s.runtimeBinFolder) != FALSE;

    DownloadWithFallback(s.versionUrlPath, s.remoteVersionFile);
    s.remoteVersion = ReadVersionNumber(s.remoteVersionFile);
    DeleteFileW(s.remoteVersionFile);
    if (RuntimeIsCurrent(binFolderExists, s.forceDownload != 0, s.remoteVersion, s.localVersion, markerExists))
        return 1;

    DownloadWithFallback(s.versionUrlPath, s.localVersionFile);
    wchar_t line[128];
    BoundedFormat(line, 128, L"localVersion=%d, remoteVersion=%d, ... need to dl java", s.localVersion,
                  s.remoteVersion);
    LogLine(line);

    if (!DownloadWithFallback(s.runtimePackUrlPath, s.runtimePackFile)) {
        ReportPackDownloadFailure();
        // Keep the installed runtime; without version.txt the next run tries the update again.
        DeleteFileW(s.localVersionFile);
        return 0;
    }
    DeleteCacheFolderTree(s.runtimeFolder, L"jre", s.cacheFolderCut != 0);
    if (!RunExtract())
        return 0;
    WriteUnpackMarker();
    return 1;
}
