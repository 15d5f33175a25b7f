// Moves of files and folders that the launcher has just written (the unpacked runtime, the pack,
// the partial download, the archive copy), given time while another program holds them: virus
// scanners and indexers open every new file for a moment, and Windows then refuses to rename it,
// or a folder with such a file below it, where Wine lets the rename pass.
#pragma once

#include <windows.h>

// MoveFileExW(from, to, flags), tried again on a hold (held_rules.h) with growing pauses for up to
// HeldFileWindowMs. The log says which file or folder was held and whether it came free. Returns
// true when moved; on false the failure is logged and GetLastError() holds its code.
bool MoveHeldFile(const wchar_t* from, const wchar_t* to, DWORD flags);

// The same for a folder, except that a program running from inside it (a javaw of this runtime)
// is not waited for: it holds the folder until it ends, not for a moment.
bool MoveHeldFolder(const wchar_t* from, const wchar_t* to);

// True when a running process's program file lies inside folder.
bool ProgramRunsFrom(const wchar_t* folder);
