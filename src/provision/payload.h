// The two files the program carries inside itself (the launcher property file and the launcher
// archive), each as a record of an 8-byte tag, a big-endian 32-bit length and the data, and
// ThawFile, which writes one of them to a new temporary file.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum PayloadKind { kPropertyFilePayload = 0, kLauncherJarPayload = 1 };

enum : size_t {
    kPayloadHeaderSize = 12,
    kPropertyFileBlockSize = 2560,
    kLauncherJarBlockSize = 358400,
};

extern const unsigned char propertyFilePayload[kPropertyFileBlockSize];
extern const unsigned char launcherJarPayload[kLauncherJarBlockSize];

// Number of data bytes of a record, read big-endian from bytes 8 to 11.
uint32_t PayloadDataLength(const unsigned char* record);

// The data of the record at the start of a block of blockSize bytes, and its length; null when
// the block cannot hold the header or the data the length field claims.
const unsigned char* PayloadRecordData(const unsigned char* block, size_t blockSize, size_t* length);

// Writes the data of the record in the block to file (a handle open for writing). False when the
// record claims more data than its block holds (nothing is written) or the write fails.
bool WritePayloadRecord(void* file, const unsigned char* block, size_t blockSize);

// Writes the payload of the kind to a new temporary file and stores its path. 1 on success or in
// test mode, 0 when a step failed.
int ThawFile(int kind);

// Creates a new, uniquely named, empty file whose name begins with the first three letters of
// prefix, in the user's temporary folder; when that folder cannot be named ("<who>: GetTempPath
// failed") or used ("<who>: GetTempFileName failed"), in the launcher's own folder instead, with a
// line naming it. path receives the name (260 characters); false when neither folder worked.
bool CreateWorkFile(const wchar_t* who, const wchar_t* prefix, wchar_t* path);
