#include <windows.h>

#include "provision/payload.h"

#include "app/state.h"
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

} // namespace

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
    if (!WritePayloadRecord(file, PayloadRecord(kind), PayloadBlockSize(kind)))
        LogLine(L"ThawFile: Could not write data");
    if (!CloseHandle(file)) {
        LogLine(L"ThawFile: Could not close temp file");
        return 0;
    }
    return 1;
}
