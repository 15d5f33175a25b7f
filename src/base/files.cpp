#include "base/files.h"

uint64_t FileSizeOrZero(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DWORD ReadFileStart(const wchar_t* path, void* buffer, DWORD limit, FileStart* start)
{
    *start = FileStart{};
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        start->error = GetLastError();
        return 0;
    }
    start->opened = true;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size))
        start->size = static_cast<uint64_t>(size.QuadPart);
    else
        start->error = GetLastError();
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    DWORD total = 0;
    while (total < limit) {
        DWORD got = 0;
        if (!ReadFile(file, bytes + total, limit - total, &got, nullptr)) {
            start->error = GetLastError();
            break;
        }
        if (got == 0)
            break;
        total += got;
    }
    CloseHandle(file);
    return total;
}

bool ReadSmallFile(const wchar_t* path, void* buffer, DWORD capacity, DWORD* got)
{
    FileStart start;
    *got = ReadFileStart(path, buffer, capacity, &start);
    return start.opened && start.error == 0 && start.size == *got && *got < capacity;
}

DWORD WriteWholeFile(const wchar_t* path, const void* data, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    DWORD code = 0;
    if (!WriteFile(file, data, size, &written, nullptr))
        code = GetLastError();
    else if (written != size)
        code = ERROR_DISK_FULL; // a short write is how a full disk shows under some file systems
    if (!CloseHandle(file) && !code)
        code = GetLastError();
    if (code)
        DeleteFileW(path);
    return code;
}
