// The one process-wide record of the launcher: run mode, variant, host and server paths, local
// paths, provisioning flags, proxy settings and window handles. Start-up fills it on the main
// thread before the launch worker exists; afterwards each shared field has a single writer.
// It sits in the bottom room (base) with the plain types it holds, so that every room may use it.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "base/announcement.h"

enum : int {
    kPathCapacity = 260,
    kLaunchArgumentCapacity = 520,
    kProxyCopyCapacity = 2048,
};

struct LauncherState {
    // Run mode and variant.
    BOOL hasLaunchArgument;
    BOOL testMode;
    BYTE secondVariant;
    wchar_t launchArgument[kLaunchArgumentCapacity];
    const wchar_t* variantName;
    const wchar_t* defaultHost;
    const wchar_t* runtimeServerPath;

    // Process and window.
    HINSTANCE instanceHandle;
    HWND splashWindow;
    HBITMAP splashBitmap;
    int progress;

    // Local folders and files.
    wchar_t logFilePath[kPathCapacity];
    wchar_t cacheFolder[kPathCapacity];
    wchar_t programFolder[kPathCapacity];
    wchar_t systemRuntimeBase[kPathCapacity];
    wchar_t runtimePackFile[kPathCapacity];
    wchar_t localVersionFile[kPathCapacity];
    wchar_t remoteVersionFile[kPathCapacity];
    wchar_t javawPath[kPathCapacity];
    wchar_t unpackMarkerFile[kPathCapacity];
    wchar_t runtimeBinFolder[kPathCapacity];
    wchar_t runtimeFolder[kPathCapacity];
    // The install's own places: the pack runs and unpacks in the staging folder, the runtime it
    // replaces waits in the set-aside folder until the new one is in place, and the second fetch
    // of the server's version file waits in newVersionFile until then.
    wchar_t stagingFolder[kPathCapacity];
    wchar_t stagedPackFile[kPathCapacity];
    wchar_t stagedRuntimeFolder[kPathCapacity];
    wchar_t stagedJavawFile[kPathCapacity];
    wchar_t stagedMarkerFile[kPathCapacity];
    wchar_t setAsideRuntimeFolder[kPathCapacity];
    wchar_t newVersionFile[kPathCapacity];
    // The pack while it downloads, and what the server said about it; both stay when the
    // download breaks, so the next start asks only for the rest.
    wchar_t partialPackFile[kPathCapacity];
    wchar_t partialPackMetaFile[kPathCapacity];
    wchar_t propertyFilePath[kPathCapacity];
    wchar_t launcherJarPath[kPathCapacity];
    wchar_t localLowPath[kPathCapacity];
    wchar_t roamingPath[kPathCapacity];

    // Server addresses.
    wchar_t downloadHost[kPathCapacity];
    wchar_t runtimeSourceUrl[kPathCapacity];
    wchar_t versionUrlPath[kPathCapacity];
    wchar_t runtimePackUrlPath[kPathCapacity];

    // Provisioning and network status.
    int localVersion;
    int remoteVersion;
    BOOL forceDownload;
    volatile BOOL extracting;
    int statusMessageCount;
    // What this start's first fetch of the server's version file said, as far as it can be
    // trusted; the launcher archive is run only when it vouches for it.
    Announcement announcement;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG proxyConfig;
    BOOL useProxyArguments;
    char proxyTextCopy[kProxyCopyCapacity];
    // What the configuration script (or detection) answered for scriptProxyHost (a ScriptAnswer);
    // asked once per run and host by the first download that needs it. The two texts are the
    // platform's and, like those of proxyConfig, are kept for the run.
    wchar_t scriptProxyHost[kPathCapacity];
    int scriptAnswer;
    wchar_t* scriptProxy;
    wchar_t* scriptProxyBypass;
    // 1 + the index of the entry of the script's proxy list that carried the last download (0:
    // none yet); the next download of the start tries it first.
    int scriptEntryCarried;
    // Bit i: entry i failed this start and has carried nothing since; later downloads leave it out.
    unsigned scriptEntriesFailed;
    // How many addresses connectName resolved to, looked up once per start and name for the connect
    // budget (0: not yet, or it did not resolve).
    wchar_t connectName[kPathCapacity];
    int connectNameAddresses;
    // The platform refused every secure-protocol set the downloads ask for; said once per run.
    BOOL secureProtocolsRefusalLogged;

    // True when cacheFolder was cut to fit its field; such a path is never deleted.
    BOOL cacheFolderCut;
    // True when a path the install works on (runtime, staging, set-aside, pack, version files)
    // was cut to fit its field: cut paths may name one another, so no install runs there.
    BOOL installPathsCut;
};

extern LauncherState launcherState;

// Puts the record back to its start values (all zero, localVersion -1); used at start-up and by tests.
void ResetLauncherState();
