#include <windows.h>

#include <bcrypt.h>

#include <string.h>

#include "provision/release_check.h"

#include "log/format.h"
#include "log/log.h"
#include "provision/release_key.h"
#include "provision/release_rules.h"

namespace {

enum : DWORD {
    kHashPieceSize = 64 * 1024,
    kHashObjectCapacity = 1024, // the provider's SHA-256 state is a few hundred bytes
};

// Bytes on the heap of the process, so the worker's stack stays small; released by FreePiece.
unsigned char* AllocatePiece()
{
    return static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, kHashPieceSize));
}

void FreePiece(unsigned char* piece)
{
    if (piece)
        HeapFree(GetProcessHeap(), 0, piece);
}

// CNG reports failures as NTSTATUS values; they are logged as they are.
unsigned long StatusCode(NTSTATUS status)
{
    return static_cast<unsigned long>(status);
}

// Up to capacity bytes of the version file; truncated says there was more. False with the error
// code when the file cannot be read.
bool ReadVersionText(const wchar_t* path, char* text, size_t capacity, size_t* length, bool* truncated,
                     unsigned long* error)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    DWORD total = 0;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        DWORD room = static_cast<DWORD>(capacity - total);
        char spare[1];
        // When the buffer is full, one more byte tells whether the file goes on.
        if (!ReadFile(file, room ? text + total : spare, room ? room : 1, &got, nullptr)) {
            *error = GetLastError();
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (!room) {
            *truncated = true;
            break;
        }
        total += got;
    }
    CloseHandle(file);
    *length = total;
    return ok;
}

} // namespace

unsigned long HashFile(const wchar_t* path, unsigned char* digest, uint64_t* size)
{
    unsigned long error = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char* piece = nullptr;
    UCHAR hashObject[kHashObjectCapacity];
    DWORD objectLength = 0;
    ULONG written = 0;
    NTSTATUS status;
    *size = 0;

    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        goto quit;
    }
    piece = AllocatePiece();
    if (!piece) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        goto quit;
    }
    status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status != 0) {
        algorithm = nullptr;
        error = StatusCode(status);
        goto quit;
    }
    // Windows 7 wants the hash state in the caller's memory.
    status = BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                               sizeof objectLength, &written, 0);
    if (status != 0 || objectLength > kHashObjectCapacity) {
        error = status != 0 ? StatusCode(status) : ERROR_INSUFFICIENT_BUFFER;
        goto quit;
    }
    status = BCryptCreateHash(algorithm, &hash, hashObject, objectLength, nullptr, 0, 0);
    if (status != 0) {
        hash = nullptr;
        error = StatusCode(status);
        goto quit;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, piece, kHashPieceSize, &got, nullptr)) {
            error = GetLastError();
            goto quit;
        }
        if (got == 0)
            break;
        status = BCryptHashData(hash, piece, got, 0);
        if (status != 0) {
            error = StatusCode(status);
            goto quit;
        }
        *size += got;
    }
    status = BCryptFinishHash(hash, digest, kReleaseDigestSize, 0);
    if (status != 0)
        error = StatusCode(status);

quit:
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    FreePiece(piece);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return error;
}

long VerifyReleaseSignature(const unsigned char* publicKey, const unsigned char* message, size_t length,
                            const unsigned char* signature)
{
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCRYPT_ALG_HANDLE ecdsa = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    unsigned char digest[kReleaseDigestSize];
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kReleasePublicKeySize];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kReleasePublicKeySize / 2};
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, publicKey, kReleasePublicKeySize);

    // The message is at most a version file, so one-shot hashing in provider-held state will do.
    NTSTATUS status = BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status != 0) {
        sha256 = nullptr;
        goto quit;
    }
    {
        UCHAR hashObject[kHashObjectCapacity];
        DWORD objectLength = 0;
        ULONG written = 0;
        BCRYPT_HASH_HANDLE hash = nullptr;
        status = BCryptGetProperty(sha256, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                   sizeof objectLength, &written, 0);
        if (status == 0 && objectLength > kHashObjectCapacity)
            status = static_cast<NTSTATUS>(0xC0000023); // STATUS_BUFFER_TOO_SMALL
        if (status != 0)
            goto quit;
        status = BCryptCreateHash(sha256, &hash, hashObject, objectLength, nullptr, 0, 0);
        if (status != 0)
            goto quit;
        status = BCryptHashData(hash, const_cast<PUCHAR>(message), static_cast<ULONG>(length), 0);
        if (status == 0)
            status = BCryptFinishHash(hash, digest, sizeof digest, 0);
        BCryptDestroyHash(hash);
        if (status != 0)
            goto quit;
    }
    status = BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (status != 0) {
        ecdsa = nullptr;
        goto quit;
    }
    status = BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0);
    if (status != 0) {
        key = nullptr;
        goto quit;
    }
    status = BCryptVerifySignature(key, nullptr, digest, sizeof digest, const_cast<PUCHAR>(signature),
                                   kReleaseSignatureSize, 0);

quit:
    if (key)
        BCryptDestroyKey(key);
    if (ecdsa)
        BCryptCloseAlgorithmProvider(ecdsa, 0);
    if (sha256)
        BCryptCloseAlgorithmProvider(sha256, 0);
    return static_cast<long>(status);
}

bool CheckRuntimePackWithKey(const wchar_t* versionFilePath, const wchar_t* packFilePath,
                             const unsigned char* publicKey)
{
    char text[kReleaseFileLimit];
    size_t length = 0;
    bool truncated = false;
    unsigned long readError = 0;
    PackFacts facts = {};
    facts.keyPresent = publicKey != nullptr;
    facts.versionReadable = ReadVersionText(versionFilePath, text, sizeof text, &length, &truncated, &readError);
    facts.versionError = readError;
    ReleaseLines lines;
    ParseReleaseText(text, facts.versionReadable ? length : 0, truncated, &lines);

    facts.signatureStatus = kInvalidSignature;
    if (ReleaseNeedsSignature(lines, facts.keyPresent))
        facts.signatureStatus = VerifyReleaseSignature(publicKey, reinterpret_cast<const unsigned char*>(text),
                                                       lines.signedLength, lines.signature);
    // The pack is read only when the verdict depends on it, and not before the signature holds.
    if (ReleaseNeedsPack(lines, facts.keyPresent) && (!facts.keyPresent || facts.signatureStatus == 0)) {
        facts.packError = HashFile(packFilePath, facts.packDigest, &facts.packSize);
        facts.packReadable = facts.packError == 0;
    }

    ReleaseVerdict verdict = JudgeRelease(lines, facts);
    if (verdict == kReleaseAccepted)
        return true;
    wchar_t line[kLogLineCapacity];
    FormatReleaseRefusal(verdict, lines, facts, versionFilePath, packFilePath, line, kLogLineCapacity);
    LogLine(line);
    return false;
}

bool ReleaseKeyBuiltIn()
{
    return kReleaseKeyBuiltIn;
}

bool CheckRuntimePack(const wchar_t* versionFilePath, const wchar_t* packFilePath)
{
    return CheckRuntimePackWithKey(versionFilePath, packFilePath, kReleaseKeyBuiltIn ? kReleasePublicKey : nullptr);
}
