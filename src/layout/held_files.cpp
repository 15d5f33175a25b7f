#include "layout/held_files.h"

#include <tlhelp32.h>
#include <wchar.h>

#include "base/fault_plan.h"
#include "base/held_rules.h"
#include "base/state.h"
#include "log/log.h"

namespace {

BOOL TryMove(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    DWORD planned = PlannedFault(kFaultMove, from);
    if (planned) {
        SetLastError(planned);
        return FALSE;
    }
    return MoveFileExW(from, to, flags);
}

// A held folder is not waited for when a program runs from inside it.
bool MoveWaitingOutHolds(const wchar_t* from, const wchar_t* to, DWORD flags, bool folder)
{
    if (TryMove(from, to, flags))
        return true;
    DWORD code = GetLastError();
    DWORD window = HeldFileWindowMs();
    DWORD waited = 0;
    unsigned long pauses = 0;
    bool held = IsHoldError(code);
    if (held && folder && ProgramRunsFrom(from)) {
        LogPrintf(L"Ein Programm l\u00e4uft aus diesem Ordner, er bleibt an seinem Platz: %s", from);
        held = false;
    }
    if (held)
        LogPrintf(L"Datei oder Ordner wird von einem anderen Programm gehalten (Fehler %lu), neue Versuche bis %lu ms: %s",
                  code, window, from);
    while (held) {
        unsigned long pause = NextHoldPauseMs(pauses++, waited, window);
        if (pause == 0)
            break;
        Sleep(pause);
        waited += pause;
        if (TryMove(from, to, flags)) {
            LogPrintf(L"Datei oder Ordner nach %lu ms wieder frei: %s", waited, from);
            return true;
        }
        code = GetLastError();
        held = IsHoldError(code);
    }
    if (waited)
        LogPrintf(L"Datei oder Ordner blieb %lu ms gehalten: %s", waited, from);
    LogSystemError(code, from);
    SetLastError(code);
    return false;
}

} // namespace

bool MoveHeldFile(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    return MoveWaitingOutHolds(from, to, flags, false);
}

bool MoveHeldFolder(const wchar_t* from, const wchar_t* to)
{
    return MoveWaitingOutHolds(from, to, 0, true);
}

bool ProgramRunsFrom(const wchar_t* folder)
{
    size_t folderLength = wcslen(folder);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t image[kPathCapacity];
        DWORD length = kPathCapacity;
        if (QueryFullProcessImageNameW(process, 0, image, &length))
            found = length > folderLength && image[folderLength] == L'\\' &&
                    _wcsnicmp(image, folder, folderLength) == 0;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}
