// Small files read and written whole: the start of a file within a fixed buffer (the release
// lines of a version file, the head of a downloaded pack, the metadata of a partial download), and
// the small texts the cache folder keeps beside its files.
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

// Reads a small file the program keeps (a record, a number) whole into buffer: true, with its
// length in *got, when it opened, read without error and is shorter than capacity. A longer file
// is not one the program wrote.
bool ReadSmallFile(const wchar_t* path, void* buffer, DWORD capacity, DWORD* got);

// Writes size bytes as the whole content of path (created or emptied). Returns 0, or the error
// code of the failing call (a short write counts as a full disk); on failure the file is deleted,
// so no cut text is ever read back.
DWORD WriteWholeFile(const wchar_t* path, const void* data, DWORD size);
