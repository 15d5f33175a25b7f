// Start of the Java launcher: the javaw command line with its system properties, the process
// start, and the recovery (delete the runtime cache and restart) after a failed start.
#pragma once

#include <stddef.h>

enum : int {
    // CreateProcessW's own limit: the proxy fragment with a company's whole bypass list must fit.
    kLauncherCommandLineCapacity = 32767,
    kLauncherQuestionCapacity = 4096,
    kRestartCommandLineCapacity = 4096,
};

// The plain values the Java launcher receives; each system property is formed from its value.
struct LauncherCommandValues {
    const wchar_t* javawPath;
    const wchar_t* proxyFragment; // null: the plain form
    const wchar_t* launchArgument;
    const wchar_t* variantName;
    const wchar_t* runtimeSourceUrl;
    const wchar_t* cacheFolder;
    const wchar_t* launchExe;
    const wchar_t* localLowPath;
    const wchar_t* roamingPath;
    const wchar_t* launcherJarPath;
    const wchar_t* propertyFilePath;
};

// Builds the javaw command line into out. Each system property is cut at its limit, prefix
// included, before it is quoted; every value is quoted so it arrives as one argument. Arguments
// that no longer fit the line are left off whole. Returns false when something was left off.
bool BuildLauncherCommandLine(const LauncherCommandValues& values, wchar_t* out, size_t capacity);

void RunLauncher();
