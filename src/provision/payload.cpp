#include "provision/payload.h"

#include <windows.h>

#include "app/state.h"
#include "log/log.h"

namespace {

const unsigned char* PayloadRecord(int kind)
{
    return kind == kLauncherJarPayload ? launcherJarPayload : propertyFilePayload;
}

wchar_t* PayloadPathField(int kind)
{
    return kind == kLauncherJarPayload ? launcherState.launcherJarPath : launcherState.propertyFilePath;
}

} // namespace

uint32_t PayloadDataLength(const unsigned char* record)
{
    return (uint32_t(record[8]) << 24) | (uint32_t(record[9]) << 16) | (uint32_t(record[10]) << 8) | record[11];
}

int ThawFile(int kind)
{
    if (launcherState.testMode)
        return 1;
    wchar_t tempFolder[kPathCapacity];
    DWORD length = GetTempPathW(kPathCapacity, tempFolder);
    if (length == 0 || length > kPathCapacity) {
        LogLine(L"ThawFile: GetTempPath failed");
        return 0;
    }
    wchar_t* path = PayloadPathField(kind);
    if (GetTempFileNameW(tempFolder, L"TPLX", 0, path) == 0) {
        LogLine(L"ThawFile: GetTempFileName failed");
        return 0;
    }
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(L"ThawFile: Could not create temp file");
        return 0;
    }
    const unsigned char* record = PayloadRecord(kind);
    DWORD written = 0;
    if (!WriteFile(file, record + kPayloadHeaderSize, PayloadDataLength(record), &written, nullptr))
        LogLine(L"ThawFile: Could not write data");
    if (!CloseHandle(file)) {
        LogLine(L"ThawFile: Could not close temp file");
        return 0;
    }
    return 1;
}
