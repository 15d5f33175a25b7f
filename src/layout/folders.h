// The per-user folder layout: the log path and the runtime cache, the paths derived from the run
// mode, and the recursive deletion used for the runtime install and the launch recovery.
#pragma once

// Below the cache folder: where a runtime pack unpacks before its runtime replaces the installed
// one, and where the installed one waits meanwhile.
const wchar_t kStagingFolderName[] = L"jre.staging";
const wchar_t kSetAsideFolderName[] = L"jre.old";

// Fixes the log path, creates the base and cache folders, notes the program and Program Files folders.
void InitFolders();

// Derives the download host, server paths and every cache file path from the run mode.
void BuildPaths();

// Deletes a folder and everything below it, silently and for good. Returns the shell's result,
// or ERROR_FILENAME_EXCED_RANGE without deleting anything when TreeFitsShellPaths says no.
int DeleteFolderTree(const wchar_t* folder);

// Whether the folder and every path below it fit in 259 characters and every folder below it
// can be listed; true for a folder that does not exist.
bool TreeFitsShellPaths(const wchar_t* folder);

// Whether folder may be deleted as the folder named leafName: it must not have been cut to fit
// its field and its last path component must be exactly leafName (case-insensitive).
bool IsDeletableFolder(const wchar_t* folder, const wchar_t* leafName, bool wasCut);

// Deletes folder only when IsDeletableFolder allows it and the shell can take the whole tree;
// otherwise logs "DeleteFolderTree: <folder> wird nicht gelöscht" and leaves it alone.
int DeleteCacheFolderTree(const wchar_t* folder, const wchar_t* leafName, bool wasCut);
