#include <windows.h>

#include <shlwapi.h>

#include "provision/payload.h"

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

const unsigned char* PayloadRecord(int kind)
{
    return kind == kLauncherJarPayload ? launcherJarPayload : propertyFilePayload;
}

size_t PayloadBlockSize(int kind)
{
    return kind == kLauncherJarPayload ? kLauncherJarBlockSize : kPropertyFileBlockSize;
}

wchar_t* PayloadPathField(int kind)
{
    return kind == kLauncherJarPayload ? launcherState.launcherJarPath : launcherState.propertyFilePath;
}

void LogStepFailure(const wchar_t* who, const wchar_t* what)
{
    wchar_t line[kLogLineCapacity];
    BoundedFormat(line, kLogLineCapacity, L"%s: %s", who, what);
    LogLine(line);
}

// The launcher's own per-user folder, the one that holds the log.
bool LauncherBaseFolder(wchar_t* folder)
{
    BoundedFormat(folder, kPathCapacity, L"%s", launcherState.logFilePath);
    return folder[0] && PathRemoveFileSpecW(folder) && folder[0];
}

} // namespace

bool CreateWorkFile(const wchar_t* who, const wchar_t* prefix, wchar_t* path)
{
    wchar_t folder[kPathCapacity] = {};
    DWORD length = GetTempPathW(kPathCapacity, folder);
    if (length == 0 || length > kPathCapacity)
        LogStepFailure(who, L"GetTempPath failed");
    else if (GetTempFileNameW(folder, prefix, 0, path) != 0)
        return true;
    else
        LogStepFailure(who, L"GetTempFileName failed");

    // Without its archive and property file javaw would start for nothing, so the files go to the
    // launcher's own folder when the temporary folder is missing or its path too long.
    if (!LauncherBaseFolder(folder) || GetTempFileNameW(folder, prefix, 0, path) == 0)
        return false;
    wchar_t line[kLogLineCapacity];
    BoundedFormat(line, kLogLineCapacity, L"%s: Datei im Ordner %s angelegt", who, folder);
    LogLine(line);
    return true;
}


bool WritePayloadRecord(void* file, const unsigned char* block, size_t blockSize)
{
    size_t length = 0;
    const unsigned char* data = PayloadRecordData(block, blockSize, &length);
    DWORD written = 0;
    // A length that runs past the block would write whatever follows it in memory.
    return data && WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

int ThawFile(int kind)
{
    if (launcherState.testMode)
        return 1;
    wchar_t* path = PayloadPathField(kind);
    if (!CreateWorkFile(L"ThawFile", L"TPLX", path))
        return 0;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(L"ThawFile: Could not create temp file");
        return 0;
    }
    if (!WritePayloadRecord(file, PayloadRecord(kind), PayloadBlockSize(kind)))
        LogLine(L"ThawFile: Could not write data");
    if (!CloseHandle(file)) {
        LogLine(L"ThawFile: Could not close temp file");
        return 0;
    }
    return 1;
}
