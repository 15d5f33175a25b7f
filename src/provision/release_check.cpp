#include <windows.h>

#include <bcrypt.h>

#include <string.h>

#include "provision/release_check.h"

#include "base/files.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/sha256.h"
#include "provision/release_key.h"
#include "provision/release_rules.h"

namespace {

// SHA-256 of a message in memory; 0 or the CNG status of the failing call.
unsigned long Sha256Of(const unsigned char* message, size_t length, unsigned char* digest)
{
    Sha256Run run = {};
    unsigned long status = BeginSha256(&run);
    if (status == 0)
        status = AddSha256(&run, message, length);
    if (status == 0)
        status = EndSha256(&run, digest);
    CloseSha256(&run);
    return status;
}

// The version file read and its release lines parsed; what could not be read goes into facts.
// text (kReleaseFileLimit bytes) keeps the file's start, which the signature covers.
void ReadReleaseFile(const wchar_t* versionFilePath, char* text, ReleaseLines* lines, PackFacts* facts)
{
    FileStart start;
    DWORD length = ReadFileStart(versionFilePath, text, kReleaseFileLimit, &start);
    facts->versionReadable = start.opened && start.error == 0;
    facts->versionError = start.error;
    if (!facts->versionReadable)
        length = 0;
    ParseReleaseText(text, length, start.size > length, lines);
}

// The pack's size and digest: those taken while it downloaded when they are known and the file
// still has that size, otherwise read from the file now.
void MeasurePack(const wchar_t* packFilePath, const FileDigest* knownDigest, PackFacts* facts)
{
    // An empty pack is hashed again: a missing file also reads as size 0.
    if (knownDigest && knownDigest->known && knownDigest->size > 0 && FileSizeOrZero(packFilePath) == knownDigest->size) {
        facts->packSize = knownDigest->size;
        memcpy(facts->packDigest, knownDigest->sha256, kSha256Size);
        facts->packReadable = true;
        return;
    }
    facts->packError = HashFile(packFilePath, facts->packDigest, &facts->packSize);
    facts->packReadable = facts->packError == 0;
}

} // namespace

int64_t UtcNow()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks = {};
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // 100 ns ticks since 1601-01-01; 11644473600 s lie between that and 1970-01-01.
    return static_cast<int64_t>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

long VerifyReleaseSignature(const unsigned char* publicKey, const unsigned char* message, size_t length,
                            const unsigned char* signature)
{
    BCRYPT_ALG_HANDLE ecdsa = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    unsigned char digest[kSha256Size];
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kReleasePublicKeySize];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kReleasePublicKeySize / 2};
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, publicKey, kReleasePublicKeySize);

    NTSTATUS status = static_cast<NTSTATUS>(Sha256Of(message, length, digest));
    if (status != 0)
        goto quit;
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
    return static_cast<long>(status);
}

// The status of the file's signatures under count keys: 0 when any signature verifies with any
// key; kInvalidSignature when none does, or the first error when the check itself failed and
// nothing verified.
static long VerifyWithAnyKey(const unsigned char (*keys)[kReleasePublicKeySize], size_t count, const unsigned char* message,
                             const ReleaseLines& lines)
{
    long result = kInvalidSignature;
    for (size_t s = 0; s < lines.signatureCount; ++s)
        for (size_t i = 0; i < count; ++i) {
            long status = VerifyReleaseSignature(keys[i], message, lines.signedLength, lines.signatures[s]);
            if (status == 0)
                return 0;
            if (status != kInvalidSignature && result == kInvalidSignature)
                result = status;
        }
    return result;
}

bool CheckRuntimePackWithKeys(const wchar_t* versionFilePath, const wchar_t* packFilePath,
                              const unsigned char (*keys)[kReleasePublicKeySize], size_t keyCount,
                              const FileDigest* knownDigest, wchar_t* refusedLine, size_t capacity,
                              ReleaseVerdict* verdictOut, bool expiryWaived)
{
    char text[kReleaseFileLimit];
    PackFacts facts = {};
    facts.keyPresent = keyCount > 0;
    facts.now = UtcNow();
    facts.expiryWaived = expiryWaived;
    ReleaseLines lines;
    ReadReleaseFile(versionFilePath, text, &lines, &facts);

    facts.signatureStatus = kInvalidSignature;
    if (ReleaseNeedsSignature(lines, facts.keyPresent))
        facts.signatureStatus = VerifyWithAnyKey(keys, keyCount, reinterpret_cast<const unsigned char*>(text), lines);
    // The pack is looked at only when the verdict depends on it, and not before the signature holds.
    if (ReleaseNeedsPack(lines, facts.keyPresent) && (!facts.keyPresent || facts.signatureStatus == 0))
        MeasurePack(packFilePath, knownDigest, &facts);

    ReleaseVerdict verdict = JudgeRelease(lines, facts);
    if (verdictOut)
        *verdictOut = verdict;
    if (verdict == kReleaseAccepted)
        return true;
    wchar_t line[kLogLineCapacity];
    FormatReleaseRefusal(verdict, lines, facts, versionFilePath, packFilePath, line, kLogLineCapacity);
    LogLine(line);
    if (refusedLine)
        BoundedFormat(refusedLine, capacity, L"%s", line);
    return false;
}

// The signature of a file's lines under the built-in keys: 0 verified, else a CNG status.
static long VerifyWithBuiltInKeys(const char* text, const ReleaseLines& lines)
{
    if (!ReleaseNeedsSignature(lines, ReleaseKeyBuiltIn()))
        return kInvalidSignature;
    return VerifyWithAnyKey(kReleasePublicKeys, kReleaseKeyCount, reinterpret_cast<const unsigned char*>(text), lines);
}

bool VersionTextVerifies(const char* text, const ReleaseLines& lines)
{
    return VerifyWithBuiltInKeys(text, lines) == 0;
}

Announcement ReadAnnouncement(const wchar_t* versionFilePath)
{
    char text[kReleaseFileLimit];
    PackFacts facts = {};
    ReleaseLines lines;
    ReadReleaseFile(versionFilePath, text, &lines, &facts);
    long status = VerifyWithBuiltInKeys(text, lines);
    return JudgeAnnouncement(lines, facts.versionReadable, ReleaseKeyBuiltIn(), status, UtcNow());
}

bool CheckSecondFetch(const wchar_t* versionFilePath, int decidingVersion, int installedVersion)
{
    char text[kReleaseFileLimit];
    PackFacts facts = {};
    ReleaseLines lines;
    ReadReleaseFile(versionFilePath, text, &lines, &facts);
    bool verified = lines.readsNumber && VerifyWithBuiltInKeys(text, lines) == 0;
    InstallVerdict verdict = JudgeSecondFetch(lines, ReleaseKeyBuiltIn(), verified, decidingVersion, installedVersion,
                                              UtcNow());
    switch (verdict) {
    case kInstallGoesOn:
        return true;
    case kInstallNoNumber:
        LogLine(L"EnsureRuntime: Versionsdatei des Servers ohne Versionsnummer, keine Installation, version.txt bleibt");
        break;
    case kInstallExpired:
        LogPrintf(L"EnsureRuntime: Versionsdatei des Servers seit %hs abgelaufen, keine Installation", lines.expiresText);
        break;
    case kInstallNumberChanged:
        LogPrintf(L"EnsureRuntime: signierte Versionsdatei nennt Version %d statt %d, keine Installation", lines.version,
                  decidingVersion);
        break;
    case kInstallUnverified:
        LogLine(L"EnsureRuntime: Versionsdatei des Servers ist nicht mit dem Release-Schl\u00fcssel signiert, "
                L"keine Installation");
        break;
    case kInstallOlderThanInstalled:
        LogPrintf(L"EnsureRuntime: signierte Versionsdatei nennt Version %d, installiert ist %d, keine Installation",
                  lines.version, installedVersion);
        break;
    }
    return false;
}

bool VersionFileNamesNumber(const wchar_t* versionFilePath)
{
    char text[kReleaseFileLimit];
    PackFacts facts = {};
    ReleaseLines lines;
    ReadReleaseFile(versionFilePath, text, &lines, &facts);
    return facts.versionReadable && lines.readsNumber;
}

PackExpectation ReadPackExpectation(const wchar_t* versionFilePath)
{
    char text[kReleaseFileLimit];
    PackFacts facts = {};
    ReleaseLines lines;
    ReadReleaseFile(versionFilePath, text, &lines, &facts);
    return PackExpectation{ReleaseNeedsPack(lines, ReleaseKeyBuiltIn()), !lines.malformed && lines.hasSize ? lines.size : 0};
}

bool ReleaseKeyBuiltIn()
{
    return kReleaseKeyCount > 0;
}

bool CheckRuntimePackWithKey(const wchar_t* versionFilePath, const wchar_t* packFilePath,
                             const unsigned char* publicKey, const FileDigest* knownDigest)
{
    const unsigned char (*keys)[kReleasePublicKeySize] = reinterpret_cast<const unsigned char (*)[kReleasePublicKeySize]>(publicKey);
    return CheckRuntimePackWithKeys(versionFilePath, packFilePath, keys, publicKey ? 1 : 0, knownDigest);
}

bool CheckRuntimePack(const wchar_t* versionFilePath, const wchar_t* packFilePath, const FileDigest* knownDigest,
                      wchar_t* refusedLine, size_t capacity, ReleaseVerdict* verdict, bool expiryWaived)
{
    return CheckRuntimePackWithKeys(versionFilePath, packFilePath, kReleasePublicKeys, kReleaseKeyCount, knownDigest,
                                    refusedLine, capacity, verdict, expiryWaived);
}

int KeptVerifiedRelease()
{
    wchar_t path[kPathCapacity];
    char text[16];
    DWORD got = 0;
    uint64_t kept = 0;
    if (BoundedFormat(path, kPathCapacity, L"%s\\version.seen", launcherState.cacheFolder) != kFormatOk)
        return -1;
    if (ReadSmallFile(path, text, sizeof text, &got) && ReadDecimal(text, got, &kept) && kept <= 0x7FFFFFFF)
        return static_cast<int>(kept);
    return -1;
}
