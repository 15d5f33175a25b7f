// A demo runtime pack: a self-extracting program that, started with "-y", unpacks a small runtime
// into the folder jre below its current folder (jre\bin\javaw.exe, jre\release, jre\lib\demo.txt)
// without asking anything.
//
// The javaw it unpacks is carried at the end of its own file: the served pack is this program's
// bytes, then the javaw bytes, then a 24-byte trailer
//     payload length (8 bytes), exit code (4), delay in ms (4), magic "ZXPACK01" (8), little endian.
// The delay (before anything is written) and the exit code (after everything is written) let tests
// build a slow or a failing pack. With the top bit of the delay set, the wait comes after the
// files are written instead: a pack that has unpacked everything but has not ended yet. It also leaves jre\lib\pack-record.txt with its command line and
// current folder. Exit codes of its own: 2 without "-y", 3 without a payload, 4 when writing failed.
#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <stdio.h>
#include <string.h>

namespace {

const char kMagic[8] = {'Z', 'X', 'P', 'A', 'C', 'K', '0', '1'};
const DWORD kTrailerSize = 24;
const DWORD kHoldAfterUnpacking = 0x80000000u;

struct Pack {
    unsigned char* bytes;
    DWORD size;
    DWORD payloadOffset;
    DWORD payloadLength;
    DWORD exitCode;
    DWORD delayMs;
};

bool HasYesSwitch()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool yes = false;
    for (int i = 1; arguments && i < count; ++i)
        yes = yes || lstrcmpiW(arguments[i], L"-y") == 0;
    if (arguments)
        LocalFree(arguments);
    return yes;
}

bool ReadOwnFile(Pack* pack)
{
    wchar_t self[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, self, MAX_PATH))
        return false;
    HANDLE file = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = false;
    DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size > kTrailerSize) {
        pack->bytes = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, size));
        DWORD got = 0;
        ok = pack->bytes && ReadFile(file, pack->bytes, size, &got, nullptr) && got == size;
        pack->size = size;
    }
    CloseHandle(file);
    return ok;
}

DWORD Le32(const unsigned char* p)
{
    return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

bool FindPayload(Pack* pack)
{
    const unsigned char* trailer = pack->bytes + pack->size - kTrailerSize;
    if (memcmp(trailer + 16, kMagic, sizeof kMagic) != 0 || Le32(trailer + 4) != 0)
        return false;
    DWORD length = Le32(trailer);
    if (length == 0 || length > pack->size - kTrailerSize)
        return false;
    pack->payloadLength = length;
    pack->payloadOffset = pack->size - kTrailerSize - length;
    pack->exitCode = Le32(trailer + 8);
    pack->delayMs = Le32(trailer + 12);
    return true;
}

bool WriteBytes(const wchar_t* path, const void* bytes, DWORD length)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, length, &written, nullptr) && written == length;
    return CloseHandle(file) && ok;
}

bool WriteText(const wchar_t* path, const char* text)
{
    return WriteBytes(path, text, DWORD(strlen(text)));
}

bool WriteRecord()
{
    char record[3 * MAX_PATH + 8192];
    char line[8192];
    char folder[3 * MAX_PATH];
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, nullptr, nullptr);
    WideCharToMultiByte(CP_UTF8, 0, current, -1, folder, sizeof folder, nullptr, nullptr);
    snprintf(record, sizeof record, "CMDLINE\t%s\nCWD\t%s\n", line, folder);
    return WriteText(L"jre\\lib\\pack-record.txt", record);
}

bool Unpack(const Pack& pack)
{
    CreateDirectoryW(L"jre", nullptr);
    CreateDirectoryW(L"jre\\bin", nullptr);
    CreateDirectoryW(L"jre\\lib", nullptr);
    return WriteBytes(L"jre\\bin\\javaw.exe", pack.bytes + pack.payloadOffset, pack.payloadLength) &&
           WriteText(L"jre\\release", "JAVA_VERSION=\"demo\"\nIMPLEMENTOR=\"tarvolin demo runtime pack\"\n") &&
           WriteText(L"jre\\lib\\demo.txt", "A demo runtime: its javaw records the command line it receives.\n") &&
           WriteRecord();
}

} // namespace

int main()
{
    if (!HasYesSwitch()) {
        fputs("demo runtime pack: start with -y to unpack jre into the current folder\n", stderr);
        return 2;
    }
    Pack pack = {};
    if (!ReadOwnFile(&pack) || !FindPayload(&pack)) {
        fputs("demo runtime pack: no javaw payload at the end of this file\n", stderr);
        return 3;
    }
    bool holdAfter = (pack.delayMs & kHoldAfterUnpacking) != 0;
    DWORD delay = pack.delayMs & ~kHoldAfterUnpacking;
    if (delay && !holdAfter)
        Sleep(delay);
    if (!Unpack(pack))
        return 4;
    if (delay && holdAfter)
        Sleep(delay);
    return int(pack.exitCode);
}
