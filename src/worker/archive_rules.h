// Decisions about the local copy of the launcher archive that need no platform: the small text
// kept beside the copy (which file, the server's validator, its length and digest, and whether a
// checked version file vouched for it, until when), the names the copies may have, and whether a
// copy may run when the server cannot be asked.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "net/resume_rules.h"
#include "provision/release_rules.h"

enum : size_t {
    kArchiveCopyNameCapacity = 32,      // "launcher-<number>.jar"
    kArchiveMetaTextCapacity = 600,     // the stored text, terminator included
};

struct ArchiveCopy {
    wchar_t fileName[kArchiveCopyNameCapacity]; // in the cache folder
    wchar_t validator[kValidatorCapacity];      // strong ETag, else Last-Modified, or empty
    uint64_t length;
    unsigned char sha256[kReleaseDigestSize];
    bool vouched;                               // a version file checked with the release key named it
    bool hasExpiry;                             // that version file's expiry
    int64_t expiresAt;
    char expiresText[kUtcTimeLength + 1];
};

// The stored text, 8-bit ASCII with CRLF line ends; its length in bytes, or 0 when a value cannot
// be stored (a name that is not a copy's, a validator that is not printable ASCII, no room).
size_t FormatArchiveCopyMeta(const ArchiveCopy& copy, char* text, size_t capacity);
// Reads that text back; false for anything it would not have written.
bool ParseArchiveCopyMeta(const char* text, size_t size, ArchiveCopy* copy);

// "launcher-<number>.jar" for number; false when it does not fit.
bool FormatArchiveCopyName(unsigned number, wchar_t* name, size_t capacity);
// True for the names FormatArchiveCopyName gives (case-insensitive): the only files the clean-up
// of old copies may delete.
bool IsArchiveCopyName(const wchar_t* name);

// The number in a copy's name (IsArchiveCopyName); 0 for any other name or one beyond 32 bits.
unsigned ArchiveCopyNumber(const wchar_t* name);

// Whether the clean-up of a start may delete copy number: another start may be about to hand the
// newest copy to its javaw, and a start that runs a copy (runningNumber; 0 when the embedded
// archive runs) deletes only older ones. newestNumber: the highest number in the cache folder.
// newestSettled: the newest copy has been there for a while; until then a start that read the
// copy record before the newest copy was made may still be about to hand an older one to its
// javaw, and no copy goes.
bool ArchiveCopyMayBeDeleted(unsigned number, unsigned runningNumber, unsigned newestNumber, bool newestSettled);

// Whether the copy may run when the server gives no answer for the archive: it passed its checks
// when it was stored; with a key it must have been vouched for by a version file that has not
// expired since, and a verified version file that arrived this start (arrived) must name the
// copy's size and digest: a release that names another archive, or none, withdraws the copy.
bool ArchiveCopyUsableOffline(const ArchiveCopy& copy, const Announcement& arrived, int64_t now);

// With a key, an archive is vouched for only by a verified release whose number is at least the
// highest verified number the cache has seen (highestSeen; -1: none yet): an older genuine
// release, replayed, must not bring its archive back.
bool ReleaseOlderThanSeen(const Announcement& announcement, int highestSeen);

// Whether the copy may run without asking the server at all: this start's version file names the
// archive by size and digest (and, with a key, verifies and has not expired), and the copy has that
// length and digest as kept beside it. The conditional request could then only answer "unchanged"
// or bring an archive this version file does not name, which may not run; at a distance it costs a
// connection, a TLS handshake and a round trip.
bool ArchiveCopyNamedByAnnouncement(const ArchiveCopy& copy, const Announcement& announcement);

// What the copy keeps of the announcement that vouched for it.
void NoteVouching(ArchiveCopy* copy, const Announcement& announcement, bool vouched);
