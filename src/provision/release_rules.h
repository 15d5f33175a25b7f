// Decisions of the release check that need no platform: reading the release lines of a version
// file (pack size, SHA-256 digest, signature), and deciding from them, the launcher's key and
// what was measured of the pack whether the pack may run, and which log line says why not.
//
// A version file is the decimal number on its first line, as ever, optionally followed by
//   size=<decimal byte count>
//   sha256=<64 hex digits>
//   archive-size=<decimal byte count>      the launcher archive at its fixed server path
//   archive-sha256=<64 hex digits>
//   expires=<YYYY-MM-DDTHH:MM:SSZ>          UTC; from then on the file installs and vouches nothing
//   rollout=<0 to 100>                      percent of the desktops with a runtime that take it
//   signature=<base64 of the 64-byte raw r||s of an ECDSA P-256 signature>   (one to four)
// each on its own line (LF, an optional CR before it). Every signature covers the exact bytes of
// the file before the first signature line, and the signature lines are the file's last lines
// (several, so that a file can be signed with an old and a new key while launchers change keys;
// one that verifies with any of a launcher's keys counts). Lines that
// begin with none of these keys are not release lines and are passed over, so the number
// reads exactly as before and a file without release lines reads as "no release lines".
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/announcement.h"

enum : size_t {
    kReleaseSignatureSize = 64,
    kReleasePublicKeySize = 64, // raw X||Y of a P-256 point
    kReleaseFileLimit = 4096,   // bytes of a version file the check reads
    kReleaseSignatureLimit = 4, // signature lines a version file may carry
};

struct ReleaseLines {
    int version;          // the number, as ParseVersionText reads it
    bool readsNumber;     // the file holds that number at all (VersionTextHasNumber)
    bool malformed;       // a release line that cannot be read; the file proves nothing
    bool hasSize;
    uint64_t size;
    bool hasDigest;
    unsigned char digest[kReleaseDigestSize];
    bool hasSignature;    // at least one signature line
    size_t signatureCount;
    unsigned char signatures[kReleaseSignatureLimit][kReleaseSignatureSize];
    size_t signedLength;  // bytes before the first signature line, the message every signature covers
    bool hasArchiveSize;
    uint64_t archiveSize;
    bool hasArchiveDigest;
    unsigned char archiveDigest[kReleaseDigestSize];
    bool hasExpiry;
    int64_t expiresAt;    // seconds since 1970-01-01 00:00:00 UTC
    char expiresText[kUtcTimeLength + 1];
    bool hasRollout;
    unsigned rollout;     // percent, 0 to 100
};

// "YYYY-MM-DDTHH:MM:SSZ" (a real date and time of day, years 1970 to 9999) into seconds since
// 1970-01-01 UTC; false for anything else.
bool ParseUtcTime(const char* text, size_t length, int64_t* seconds);

// True when the file has an expires= line and now (seconds since 1970 UTC) is at or past it.
bool ReleaseExpired(const ReleaseLines& lines, int64_t now);

// Reads the release lines of length bytes of text (zero bytes included). truncated says that the
// file went on beyond these bytes: with release lines this is malformed, as the signature line
// would be out of reach; without them the file is an old-style one with a long tail.
void ParseReleaseText(const char* text, size_t length, bool truncated, ReleaseLines* lines);

// True when the file names the pack's size, digest or signature.
bool HasReleaseLines(const ReleaseLines& lines);

// Decimal digits only (no sign, no blanks, at least one), within 64 bits; false for anything else.
bool ReadDecimal(const char* text, size_t length, uint64_t* value);

// Exactly 2 * count hex digits (either case) into count bytes; false for anything else.
bool DecodeHex(const char* text, size_t length, unsigned char* out, size_t count);

// Strict base64 (standard alphabet, "=" padding, no blanks, zero unused bits) into out; returns
// the number of bytes, or -1 when the text is not base64 or decodes to more than capacity bytes.
long DecodeBase64(const char* text, size_t length, unsigned char* out, size_t capacity);

// What was measured before the decision.
struct PackFacts {
    bool keyPresent;        // the launcher was built with a release key
    bool versionReadable;   // the version file could be read
    unsigned long versionError; // when not: the platform's error code
    bool packReadable;      // the pack was opened and read to its end
    unsigned long packError; // when not: the platform's error code (Win32 or CNG status)
    uint64_t packSize;
    unsigned char packDigest[kReleaseDigestSize];
    long signatureStatus;   // CNG status of the verification: 0 verified, kInvalidSignature
                            // rejected, anything else: the check itself failed
    int64_t now;            // the client's clock, seconds since 1970 UTC
    bool expiryWaived;      // a release installed without the server's answer: its expiry is
                            // passed over (see JudgeOfflineRelease), every other rule holds
};

enum : long { kInvalidSignature = static_cast<long>(0xC000A000) }; // STATUS_INVALID_SIGNATURE

enum ReleaseVerdict {
    kReleaseAccepted,
    kReleaseVersionUnreadable, // built with a key, but the version file cannot be read
    kReleaseMalformed,        // a release line cannot be read
    kReleaseNoSignature,      // built with a key, but the file carries no signature
    kReleaseBadSignature,     // the signature does not verify with the key
    kReleaseUnsignedContent,  // signed, but without the size and digest that tie it to a pack
    kReleasePackUnreadable,   // the file names the pack, but the pack cannot be read
    kReleaseSizeMismatch,
    kReleaseDigestMismatch,
    kReleaseExpired,          // the file's expires= time has passed
};

// Whether the pack may run. With a key: a signature that verifies, and a size and digest that
// match. Without a key: the size and digest match when the file names them; an old-style file
// passes. Facts that the verdict cannot depend on are not looked at (see ReleaseNeedsPack and
// ReleaseNeedsSignature).
ReleaseVerdict JudgeRelease(const ReleaseLines& lines, const PackFacts& facts);

// True when the decision needs the pack's size and digest (so an unkeyed launcher with an old-style
// file does not read the pack at all).
bool ReleaseNeedsPack(const ReleaseLines& lines, bool keyPresent);

// True when the signature must be verified: built with a key and the file carries one.
bool ReleaseNeedsSignature(const ReleaseLines& lines, bool keyPresent);

// The one log line of a refusal into line (capacity characters).
void FormatReleaseRefusal(ReleaseVerdict verdict, const ReleaseLines& lines, const PackFacts& facts,
                          const wchar_t* versionFile, const wchar_t* packFile, wchar_t* line, size_t capacity);

// The announcement of a first fetch from its lines and what was measured (the signature's status
// and the clock; readable says whether the file could be read at all).
Announcement JudgeAnnouncement(const ReleaseLines& lines, bool readable, bool keyPresent, long signatureStatus,
                               int64_t now);

enum ArchiveVerdict {
    kArchiveVouched,        // the announcement names these bytes: run them
    kArchiveUnchecked,      // no key and no archive lines: the received archive runs as before
    kArchiveNotNamed,       // with a key: the version file names no archive
    kArchiveUnverified,     // with a key: the version file does not verify
    kArchiveExpired,        // the version file has expired
    kArchiveSizeMismatch,
    kArchiveDigestMismatch,
    kArchiveMalformed,      // a release line cannot be read
};

// Whether a received launcher archive of size bytes with that SHA-256 may replace the embedded
// one. Only kArchiveVouched and kArchiveUnchecked let it run.
ArchiveVerdict JudgeArchive(const Announcement& announcement, uint64_t size, const unsigned char* digest);

// The reason of a verdict that keeps the embedded archive, for the one log line that says why.
void FormatArchiveRefusal(ArchiveVerdict verdict, const Announcement& announcement, uint64_t size,
                          const unsigned char* digest, wchar_t* text, size_t capacity);

enum InstallVerdict {
    kInstallGoesOn,
    kInstallNoNumber,         // the second fetch holds no number (empty, cut, a page)
    kInstallNumberChanged,    // signed, but another number than the one that decided the install
    kInstallOlderThanInstalled, // signed, but lower than the installed runtime's number
    kInstallExpired,
    kInstallUnverified,       // a launcher with a key, and the file does not verify
};

// Whether an install may go on with the version file of its second fetch (the one that becomes
// version.txt). decidingVersion: the first fetch's number; installedVersion: version.txt's (-1
// when there is none). With a key the file must verify, and then the number rules hold; an
// unverified file stops the install before the pack is asked for, so that no unvouched file
// decides how much may be downloaded.
InstallVerdict JudgeSecondFetch(const ReleaseLines& lines, bool keyPresent, bool verified, int decidingVersion,
                                int installedVersion, int64_t now);
