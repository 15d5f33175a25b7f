#include "worker/launch.h"

#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include "base/cmdline.h"
#include "base/fault_plan.h"
#include "base/state.h"
#include "layout/folders.h"
#include "log/format.h"
#include "log/log.h"
#include "net/proxy.h"
#include "provision/refused_start.h"
#include "provision/runtime.h"
#include "provision/start_rules.h"
#include "worker/java_paths.h"

namespace {

const wchar_t kStartFailed[] = L"RunLauncher: Launcher konnte nicht gestartet werden";

// A system property "-D...=value", cut at limit characters, prefix included.
struct PropertyArgument {
    wchar_t text[360];
};

PropertyArgument FormatProperty(const wchar_t* format, const wchar_t* value, size_t limit)
{
    PropertyArgument argument;
    BoundedFormat(argument.text, limit + 1, format, value);
    return argument;
}

bool AppendArgument(wchar_t* out, size_t capacity, const wchar_t* value)
{
    size_t length = wcslen(out);
    if (BoundedFormat(out + length, capacity - length, L" ") != kFormatOk)
        return false;
    if (AppendQuotedArgument(out, capacity, value))
        return true;
    out[length] = 0;
    return false;
}

bool StartProcess(wchar_t* commandLine, const wchar_t* currentFolder)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, currentFolder, &startup,
                        &process))
        return false;
    // Nothing waits for the launcher; its handles are not needed.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void RestartSelf()
{
    wchar_t commandLine[kRestartCommandLineCapacity];
    BoundedFormat(commandLine, kRestartCommandLineCapacity, L"%s", GetCommandLineW());
    StartProcess(commandLine, nullptr);
}

void RecoverFromFailedStart(DWORD error)
{
    LogSystemError(error, kStartFailed);
    wchar_t question[kLauncherQuestionCapacity];
    BoundedFormat(question, kLauncherQuestionCapacity,
                  L"RunLauncher Fehler: %d. Tempor\u00e4re Dateien l\u00f6schen und erneut versuchen?",
                  static_cast<int>(error));
    LogLine(question);
    if (MessageBoxW(launcherState.splashWindow, question, kStartFailed, MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    // Another start may be installing into the folder right now; it is deleted only between installs.
    HANDLE cacheLock = AcquireRuntimeCacheLock();
    DeleteCacheFolderTree(launcherState.cacheFolder, L"zentrixjre", launcherState.cacheFolderCut != 0);
    ReleaseRuntimeCacheLock(cacheLock);
    RestartSelf();
}

void StartLauncher(const wchar_t* launchExe)
{
    LauncherState& s = launcherState;
    wchar_t* proxyFragment = s.useProxyArguments ? BuildProxyArguments() : nullptr;
    // Java reads its command line in the ANSI code page: every path on it must survive that.
    JavaPath javaw = JavaReadablePath(s.javawPath);
    JavaPath cacheFolder = JavaReadablePath(s.cacheFolder);
    JavaPath exe = JavaReadablePath(launchExe);
    JavaPath archive = JavaReadablePath(s.launcherJarPath);
    JavaPath properties = JavaReadablePath(s.propertyFilePath);
    LauncherCommandValues values = {javaw.text,     proxyFragment,     s.launchArgument, s.variantName,
                                    s.runtimeSourceUrl, cacheFolder.text, exe.text,         s.localLowPath,
                                    s.roamingPath,  archive.text,      properties.text};
    wchar_t* commandLine = static_cast<wchar_t*>(calloc(kLauncherCommandLineCapacity, sizeof(wchar_t)));
    if (commandLine) {
        BuildLauncherCommandLine(values, commandLine, kLauncherCommandLineCapacity);
        LogLine(commandLine);
        DWORD planned = PlannedFault(kFaultStart, s.javawPath);
        bool started = !planned && StartProcess(commandLine, nullptr);
        DWORD error = started ? 0 : planned ? planned : GetLastError();
        // A start that application control refused is named in a box; deleting the cache would
        // not help and would only download everything again. So too when it refused the pack
        // and no runtime could be installed (its box was shown at that step).
        bool refused = !started && (ClassifyStartError(error) != kStartNotRefused || PackStartRefused());
        if (refused) {
            // The failure's line first, then the box that names what was refused: by its own path,
            // which the administrator's rule must name, not the short form Java was given.
            LogSystemError(error, kStartFailed);
            ReportRefusedStart(error, s.javawPath);
        } else if (!started)
            RecoverFromFailedStart(error);
    }
    free(commandLine);
    free(proxyFragment);
}

} // namespace

bool BuildLauncherCommandLine(const LauncherCommandValues& values, wchar_t* out, size_t capacity)
{
    if (capacity == 0)
        return false;
    PropertyArgument launchUrl = FormatProperty(L"-Dde.tarvolin.launchURL=%s", values.launchArgument, 255);
    PropertyArgument cacheBase = FormatProperty(L"-Dde.tarvolin.jreCacheBasePath=%s", values.cacheFolder, 299);
    PropertyArgument sourceUrl = FormatProperty(L"-Dde.tarvolin.jreSrcUrlPath=%s", values.runtimeSourceUrl, 299);
    PropertyArgument variant = FormatProperty(L"-Dde.tarvolin.appVariant=%s", values.variantName, 99);
    PropertyArgument localLow = FormatProperty(L"-Dde.tarvolin.LocalLowPath=%s", values.localLowPath, 359);
    PropertyArgument roaming = FormatProperty(L"-Dde.tarvolin.RoamingPath=%s", values.roamingPath, 359);
    PropertyArgument exe = FormatProperty(L"-Dcom.tarvolin.launch.exe=%s", values.launchExe, 255);

    out[0] = 0;
    bool whole = AppendQuotedArgument(out, capacity, values.javawPath);
    if (whole && values.proxyFragment) {
        // The fragment brings its own quotes and its own blanks on both sides.
        size_t length = wcslen(out);
        whole = BoundedFormat(out + length, capacity - length, L" %s", values.proxyFragment) == kFormatOk;
        if (!whole)
            out[length] = 0;
    }
    const wchar_t* properties[] = {L"-Djava.net.useSystemProxies=true", launchUrl.text, variant.text,
                                   sourceUrl.text, cacheBase.text, exe.text, localLow.text, roaming.text};
    for (const wchar_t* property : properties)
        whole = whole && AppendArgument(out, capacity, property);
    if (whole) {
        size_t length = wcslen(out);
        whole = BoundedFormat(out + length, capacity - length, L" -jar") == kFormatOk;
        if (!whole)
            out[length] = 0;
    }
    whole = whole && AppendArgument(out, capacity, values.launcherJarPath);
    whole = whole && AppendArgument(out, capacity, values.propertyFilePath);
    return whole;
}

void RunLauncher()
{
    wchar_t launchExe[kPathCapacity] = {};
    GetModuleFileNameW(nullptr, launchExe, kPathCapacity);
    if (!launcherState.hasLaunchArgument) {
        LogLine(L"RunLauncher: Parameter ApplicationUrl fehlt, Launcher wird beendet");
    } else
        StartLauncher(launchExe);
    PostMessageW(launcherState.splashWindow, WM_DESTROY, 0, 0);
}
