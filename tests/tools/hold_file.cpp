// Holds a file or folder open without sharing, as another program that locks it would (a running
// javaw holds its runtime folder so that it cannot be moved):
//     hold_file <path> <seconds> [<release file>]
// opens (or creates) <path> with share mode 0, prints "HELD" on standard output, and keeps it open
// until <release file> exists or <seconds> have passed. Exit code 0, or 1 when the open failed.
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) {
        fputs("usage: hold_file <path> <seconds> [<release file>]\n", stderr);
        return 2;
    }
    // Backup semantics let the same call open a folder; a file opens as before.
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("FAILED\t%lu\n", GetLastError());
        fflush(stdout);
        LocalFree(argv);
        return 1;
    }
    puts("HELD");
    fflush(stdout);
    ULONGLONG deadline = GetTickCount64() + ULONGLONG(_wtoi(argv[2])) * 1000;
    const wchar_t* release = argc > 3 ? argv[3] : nullptr;
    while (GetTickCount64() < deadline) {
        if (release && GetFileAttributesW(release) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(file);
    puts("RELEASED");
    fflush(stdout);
    LocalFree(argv);
    return 0;
}
