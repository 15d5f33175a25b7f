// Windows' answers on demand. Before the file moves and program starts whose failures Wine does
// not reproduce (a virus scanner holding a fresh file, application control refusing a program),
// the program asks here whether the step is to fail. The product links fault_plan_off.cpp, whose
// answer is always "no"; the test build links testbuild/fault_plan.cpp in its place, which reads a
// plan the tests write.
#pragma once

#include <windows.h>

enum FaultStep : int {
    kFaultMove = 1,  // MoveFileExW of a file or folder, by its source path
    kFaultStart = 2, // CreateProcessW, by the path of the program started
};

// The error code the step on path is to fail with, or 0: run it.
DWORD PlannedFault(FaultStep step, const wchar_t* path);

// How long a held file or folder is waited for, in milliseconds.
DWORD HeldFileWindowMs();
