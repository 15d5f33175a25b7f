// Calls the program's own DownloadfileDirect once and reports how long it took and how much memory
// the process needed: download_bench HOST PATH TARGET [LOG]
// Prints (one "NAME\tvalue" line each) RESULT, SECONDS (the call alone), BYTES (size of TARGET),
// PEAK_WORKING_SET and PEAK_PRIVATE (bytes, from GetProcessMemoryInfo). The log goes to LOG, or to
// download_bench.log next to TARGET. Exit code 0 when the call returned 1, 1 otherwise, 2 on bad usage.
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "base/state.h"
#include "net/download.h"

namespace {

void PrintNumber(const char* name, unsigned long long value)
{
    printf("%s\t%llu\n", name, value);
}

unsigned long long FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 4 || wcslen(arguments[1]) >= kPathCapacity || wcslen(arguments[3]) >= kPathCapacity - 20) {
        fputs("usage: download_bench HOST PATH TARGET [LOG]\n", stderr);
        return 2;
    }
    ResetLauncherState();
    wcscpy(launcherState.downloadHost, arguments[1]);
    if (count > 4 && wcslen(arguments[4]) < kPathCapacity) {
        wcscpy(launcherState.logFilePath, arguments[4]);
    } else {
        wcscpy(launcherState.logFilePath, arguments[3]);
        wchar_t* slash = wcsrchr(launcherState.logFilePath, L'\\');
        wcscpy(slash ? slash + 1 : launcherState.logFilePath, L"download_bench.log");
    }

    LARGE_INTEGER frequency = {}, before = {}, after = {};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    int result = DownloadfileDirect(arguments[2], 1, arguments[3], false, kNoByteLimit);
    QueryPerformanceCounter(&after);

    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    PrintNumber("RESULT", static_cast<unsigned long long>(result));
    printf("SECONDS\t%.6f\n", double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart));
    PrintNumber("BYTES", FileSize(arguments[3]));
    PrintNumber("PEAK_WORKING_SET", memory.PeakWorkingSetSize);
    PrintNumber("PEAK_PRIVATE", memory.PeakPagefileUsage);
    fflush(stdout);
    LocalFree(arguments);
    return result == 1 ? 0 : 1;
}
