// The release check before a downloaded runtime pack runs: the version file's size, SHA-256 digest
// and signature lines (see release_rules.h) against the pack and the release key built into the
// program, with the platform's own cryptography (CNG, bcrypt.dll).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "net/sha256.h"
#include "provision/release_rules.h"

// True when the pack may run. A program built with release keys requires a signature in the
// version file that verifies with one of them (any of the file's signatures), and a size and digest there that match the pack; one
// built without a key checks size and digest when the version file names them and otherwise
// passes. On a refusal exactly one line is logged, saying what failed; the files are left as they
// are (deleting the pack is the caller's decision). knownDigest (may be null) is the pack's size
// and digest taken while it downloaded; the pack is read only when it is unknown or the file's
// size no longer fits it.
// refusedLine (may be null; capacity characters) receives the refusal's line, verdict (may be
// null) the verdict.
// expiryWaived: the release is installed without the server's answer (see JudgeOfflineRelease),
// and its version file's expiry is passed over.
bool CheckRuntimePack(const wchar_t* versionFilePath, const wchar_t* packFilePath, const FileDigest* knownDigest,
                      wchar_t* refusedLine, size_t capacity, ReleaseVerdict* verdict = nullptr,
                      bool expiryWaived = false);


// The same check with a given key (64 bytes of raw X||Y, or null for none): for tests and tools.
bool CheckRuntimePackWithKey(const wchar_t* versionFilePath, const wchar_t* packFilePath,
                             const unsigned char* publicKey, const FileDigest* knownDigest);

// The same check with count keys (raw X||Y each); a signature by any of them counts.
bool CheckRuntimePackWithKeys(const wchar_t* versionFilePath, const wchar_t* packFilePath,
                              const unsigned char (*keys)[kReleasePublicKeySize], size_t keyCount,
                              const FileDigest* knownDigest, wchar_t* refusedLine = nullptr, size_t capacity = 0,
                              ReleaseVerdict* verdict = nullptr, bool expiryWaived = false);

// True when the version file can be read and names a number.
bool VersionFileNamesNumber(const wchar_t* versionFilePath);

// What the pack's download needs from the version file it will be checked against: whether the
// check will need the pack's digest (so that the download takes it while the pack arrives), and
// the pack's size as the file names it (0: none), which no download may write past.
struct PackExpectation {
    bool needsDigest;
    uint64_t size;
};
PackExpectation ReadPackExpectation(const wchar_t* versionFilePath);

// The first fetch of the server's version file as far as it can be trusted (see Announcement): its
// signature verified with the built-in keys when there are any, its expiry against the clock.
Announcement ReadAnnouncement(const wchar_t* versionFilePath);

// Whether the install may go on with the version file of its second fetch (see JudgeSecondFetch);
// when not, one log line says why.
bool CheckSecondFetch(const wchar_t* versionFilePath, int decidingVersion, int installedVersion);

// True when one of the signatures of a version file's text (its first bytes, whose release lines
// are lines) verifies with the built-in keys.
bool VersionTextVerifies(const char* text, const ReleaseLines& lines);

// The client's clock: seconds since 1970-01-01 UTC.
int64_t UtcNow();

// True when this program was built with a release key.
bool ReleaseKeyBuiltIn();

// Verifies a 64-byte raw r||s ECDSA P-256 signature over the SHA-256 of message with a 64-byte raw
// X||Y public key. Returns the CNG status: 0 verified, 0xC000A000 not, anything else an error.
long VerifyReleaseSignature(const unsigned char* publicKey, const unsigned char* message, size_t length,
                            const unsigned char* signature);

// The highest verified release number this cache has seen (version.seen, kept by the launcher
// archive's check so that an older signed release cannot come back); -1 for none.
int KeptVerifiedRelease();
