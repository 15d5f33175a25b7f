// Prints the GDI object count of the process that owns the splash window, or -1 when there is none.
#include <windows.h>

#include <stdio.h>

int main()
{
    HWND window = FindWindowW(L"tarvolinWindowClass1", L"Zentrix");
    if (!window) {
        printf("-1\n");
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) {
        printf("-1\n");
        return 1;
    }
    printf("%lu\n", static_cast<unsigned long>(GetGuiResources(process, GR_GDIOBJECTS)));
    CloseHandle(process);
    return 0;
}
