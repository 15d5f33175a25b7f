// The test build's fault plan: the answers Windows gives where Wine does not, on demand. Linked
// into the test build's program only (never into the product, whose fault_plan_off.cpp answers
// "no fault"). The plan is the UTF-8 text file "fault-plan.txt" in the launcher's base folder
// (beside the log), read once per start; one instruction a line:
//     move COUNT CODE PATH-END    the next COUNT moves of a path ending in PATH-END fail with CODE
//     start CODE PATH-END         every start of a program whose path ends in PATH-END fails with CODE
//     hold-window-ms MS           a held file is waited for MS milliseconds instead of 30 s
// Path ends compare without regard to case. Each fault applied is logged with "Fehlerplan:".
#include "base/fault_plan.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/files.h"
#include "base/held_rules.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

enum : int { kPlanEntryLimit = 16, kPlanTextCapacity = 8192, kPlanPathCapacity = 260 };

struct PlanEntry {
    FaultStep step;
    long remaining; // moves still to fail; starts fail every time
    DWORD code;
    wchar_t pathEnd[kPlanPathCapacity];
};

struct Plan {
    bool read;
    int count;
    DWORD holdWindowMs;
    PlanEntry entries[kPlanEntryLimit];
};

Plan plan;

bool PlanPath(wchar_t* path)
{
    if (BoundedFormat(path, kPathCapacity, L"%s", launcherState.logFilePath) != kFormatOk)
        return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash)
        return false;
    slash[1] = L'\0';
    size_t length = wcslen(path);
    return BoundedFormat(path + length, kPathCapacity - length, L"fault-plan.txt") == kFormatOk;
}

// The next blank-separated word of *p (cut off in place), or the rest of the line with rest.
char* NextWord(char** p, bool rest)
{
    while (**p == ' ' || **p == '\t')
        ++*p;
    char* word = *p;
    if (rest)
        return *word ? word : nullptr;
    while (**p && **p != ' ' && **p != '\t')
        ++*p;
    if (**p)
        *(*p)++ = '\0';
    return *word ? word : nullptr;
}

void ReadEntry(char* line)
{
    char* p = line;
    char* kind = NextWord(&p, false);
    if (!kind)
        return;
    if (strcmp(kind, "hold-window-ms") == 0) {
        if (char* ms = NextWord(&p, false))
            plan.holdWindowMs = strtoul(ms, nullptr, 10);
        return;
    }
    PlanEntry entry = {};
    entry.remaining = -1;
    if (strcmp(kind, "move") == 0) {
        entry.step = kFaultMove;
        char* count = NextWord(&p, false);
        entry.remaining = count ? strtol(count, nullptr, 10) : 0;
    } else if (strcmp(kind, "start") == 0)
        entry.step = kFaultStart;
    else
        return;
    char* code = NextWord(&p, false);
    char* pathEnd = NextWord(&p, true);
    if (!code || !pathEnd || plan.count >= kPlanEntryLimit ||
        !MultiByteToWideChar(CP_UTF8, 0, pathEnd, -1, entry.pathEnd, kPlanPathCapacity))
        return;
    entry.code = strtoul(code, nullptr, 10);
    plan.entries[plan.count++] = entry;
}

void ReadPlan()
{
    plan.read = true;
    plan.holdWindowMs = kHeldFileWindowMs;
    wchar_t path[kPathCapacity];
    static char text[kPlanTextCapacity];
    FileStart start;
    if (!PlanPath(path))
        return;
    DWORD got = ReadFileStart(path, text, kPlanTextCapacity - 1, &start);
    text[got] = '\0';
    for (char* line = text; line && *line;) {
        char* next = strpbrk(line, "\r\n");
        if (next)
            *next++ = '\0';
        ReadEntry(line);
        line = next;
        while (line && (*line == '\r' || *line == '\n'))
            ++line;
    }
    if (start.opened)
        LogPrintf(L"Fehlerplan: %d Eintr\u00e4ge, Haltefenster %lu ms", plan.count, plan.holdWindowMs);
}

bool EndsWith(const wchar_t* path, const wchar_t* end)
{
    size_t pathLength = wcslen(path);
    size_t endLength = wcslen(end);
    return endLength <= pathLength && _wcsicmp(path + pathLength - endLength, end) == 0;
}

} // namespace

DWORD PlannedFault(FaultStep step, const wchar_t* path)
{
    if (!plan.read)
        ReadPlan();
    for (int i = 0; i < plan.count; ++i) {
        PlanEntry& entry = plan.entries[i];
        if (entry.step != step || entry.remaining == 0 || !EndsWith(path, entry.pathEnd))
            continue;
        if (entry.remaining > 0)
            --entry.remaining;
        LogPrintf(L"Fehlerplan: %s schl\u00e4gt fehl mit %lu", path, entry.code);
        return entry.code;
    }
    return 0;
}

DWORD HeldFileWindowMs()
{
    if (!plan.read)
        ReadPlan();
    return plan.holdWindowMs;
}
