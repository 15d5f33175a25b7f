// The per-user folder layout: the log path and the runtime cache, the paths derived from the run
// mode, and the recursive deletion used for the runtime install and the launch recovery.
#pragma once

// Fixes the log path, creates the base and cache folders, notes the program and Program Files folders.
void InitFolders();

// Derives the download host, server paths and every cache file path from the run mode.
void BuildPaths();

// Deletes a folder and everything below it, silently and for good. Returns the shell's result.
int DeleteFolderTree(const wchar_t* folder);

// Whether folder may be deleted as the folder named leafName: it must not have been cut to fit
// its field and its last path component must be exactly leafName (case-insensitive).
bool IsDeletableFolder(const wchar_t* folder, const wchar_t* leafName, bool wasCut);

// Deletes folder only when IsDeletableFolder allows it; otherwise logs and leaves it alone.
int DeleteCacheFolderTree(const wchar_t* folder, const wchar_t* leafName, bool wasCut);
