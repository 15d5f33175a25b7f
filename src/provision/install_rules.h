// Decisions of the runtime install that need no platform: whether a downloaded pack is a Windows
// program at all, and the name of the lock that lets one start at a time install into a cache
// folder.
#pragma once

#include <stddef.h>

enum : size_t {
    // The part of a pack read to recognise it; linkers put the PE header within the first few
    // hundred bytes, so a header beyond this is not taken for a program.
    kProgramHeadSize = 4096,
    kInstallLockNameCapacity = 64,
};

// True when head (the first headSize bytes of a file) begins with the "MZ" header and holds the
// "PE\0\0" signature where that header's offset field says.
bool IsWindowsProgramImage(const unsigned char* head, size_t headSize);

// The session-local mutex name for installs into cacheFolder: the same for every spelling of the
// folder that differs only in case, different for different folders, and free of backslashes
// after the namespace (a mutex name may not hold them).
void InstallLockName(const wchar_t* cacheFolder, wchar_t* name, size_t capacity);
