// SHA-256 with the platform's own cryptography (CNG, bcrypt.dll): a digest taken in pieces, and
// the digest of a whole file read once in bounded pieces.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <stddef.h>
#include <stdint.h>

enum : size_t {
    kSha256Size = 32,
    kSha256ObjectCapacity = 1024, // the provider's SHA-256 state is a few hundred bytes
};

// One digest in the making. The hash state lives in the record itself (Windows 7 wants it in the
// caller's memory); CloseSha256 releases the handles on every path.
struct Sha256Run {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_HASH_HANDLE hash;
    UCHAR object[kSha256ObjectCapacity];
};

// Each returns 0 or the CNG status of the failing call.
unsigned long BeginSha256(Sha256Run* run);
unsigned long AddSha256(Sha256Run* run, const void* data, size_t length);
unsigned long EndSha256(Sha256Run* run, unsigned char* digest);
void CloseSha256(Sha256Run* run);

// What is known of a file's content: its size and SHA-256, when known is true.
struct FileDigest {
    bool known;
    uint64_t size;
    unsigned char sha256[kSha256Size];
};

// SHA-256 and size of a file, read once in bounded pieces. Returns 0 or the error code of the
// failing call (a Win32 error, or a CNG status).
unsigned long HashFile(const wchar_t* path, unsigned char* digest, uint64_t* size);
