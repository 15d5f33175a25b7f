// Reading the start of a small file within a fixed buffer: the release lines of a version file,
// the head of a downloaded pack, the metadata of a partial download.
#pragma once

#include <windows.h>

#include <stdint.h>

struct FileStart {
    bool opened;         // the file could be opened for reading
    unsigned long error; // 0, or the code of the failing open, size query or read
    uint64_t size;       // the file's whole size (0 when it could not be had)
};

// The size of the file at path; 0 when it is missing, a folder, or cannot be looked at.
uint64_t FileSizeOrZero(const wchar_t* path);

// Reads up to limit bytes from the start of path into buffer and returns how many arrived; the
// file's size tells whether it goes on beyond them. A read that fails keeps what came before it.
DWORD ReadFileStart(const wchar_t* path, void* buffer, DWORD limit, FileStart* start);
