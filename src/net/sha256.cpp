#include "net/sha256.h"

namespace {

enum : DWORD { kHashPieceSize = 64 * 1024 };

// Bytes on the process heap for reading a file in pieces, so the caller's stack stays small.
unsigned char* AllocateHashPiece()
{
    return static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, kHashPieceSize));
}

void FreeHashPiece(unsigned char* piece)
{
    if (piece)
        HeapFree(GetProcessHeap(), 0, piece);
}

// CNG reports failures as NTSTATUS values; they are logged as they are.
unsigned long StatusCode(NTSTATUS status)
{
    return static_cast<unsigned long>(status);
}

} // namespace

unsigned long BeginSha256(Sha256Run* run)
{
    run->algorithm = nullptr;
    run->hash = nullptr;
    NTSTATUS status = BCryptOpenAlgorithmProvider(&run->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status != 0) {
        run->algorithm = nullptr;
        return StatusCode(status);
    }
    DWORD objectLength = 0;
    ULONG written = 0;
    status = BCryptGetProperty(run->algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                               sizeof objectLength, &written, 0);
    if (status != 0)
        return StatusCode(status);
    if (objectLength > kSha256ObjectCapacity)
        return ERROR_INSUFFICIENT_BUFFER;
    status = BCryptCreateHash(run->algorithm, &run->hash, run->object, objectLength, nullptr, 0, 0);
    if (status != 0) {
        run->hash = nullptr;
        return StatusCode(status);
    }
    return 0;
}

unsigned long AddSha256(Sha256Run* run, const void* data, size_t length)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    // CNG takes ULONG lengths; larger inputs go in slices.
    while (length > 0) {
        ULONG slice = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        NTSTATUS status = BCryptHashData(run->hash, const_cast<PUCHAR>(bytes), slice, 0);
        if (status != 0)
            return StatusCode(status);
        bytes += slice;
        length -= slice;
    }
    return 0;
}

unsigned long EndSha256(Sha256Run* run, unsigned char* digest)
{
    return StatusCode(BCryptFinishHash(run->hash, digest, kSha256Size, 0));
}

void CloseSha256(Sha256Run* run)
{
    if (run->hash)
        BCryptDestroyHash(run->hash);
    if (run->algorithm)
        BCryptCloseAlgorithmProvider(run->algorithm, 0);
    run->hash = nullptr;
    run->algorithm = nullptr;
}

unsigned long HashFile(const wchar_t* path, unsigned char* digest, uint64_t* size)
{
    unsigned long error = 0;
    Sha256Run run = {};
    unsigned char* piece = nullptr;
    *size = 0;

    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        goto quit;
    }
    piece = AllocateHashPiece();
    if (!piece) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        goto quit;
    }
    error = BeginSha256(&run);
    if (error)
        goto quit;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, piece, kHashPieceSize, &got, nullptr)) {
            error = GetLastError();
            goto quit;
        }
        if (got == 0)
            break;
        error = AddSha256(&run, piece, got);
        if (error)
            goto quit;
        *size += got;
    }
    error = EndSha256(&run, digest);

quit:
    CloseSha256(&run);
    FreeHashPiece(piece);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return error;
}
