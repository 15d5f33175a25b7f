// What is kept of a refused runtime pack so that the next start does not fetch the same bytes to
// refuse them again: the validator the server sent with the pack, where it came from, the digest
// of the version file it was checked against, when it was kept, and the line that said why. The
// next start asks for the pack only if it changed (If-None-Match / If-Modified-Since); a 304
// repeats the refusal. A refusal is kept only for a verdict on the bytes of one whole answer, and
// lapses after a day, so that one forged answer cannot hold back a genuine pack for long. Kept as
// UTF-16 text (the line may name a path in any language); no platform needed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "net/resume_rules.h"
#include "provision/release_rules.h"

enum : size_t {
    kRefusalLineCapacity = 1024,
    kPackRefusalTextCapacity = 4096, // characters of the stored text, terminator included
};

struct PackRefusal {
    wchar_t validator[kValidatorCapacity];
    wchar_t source[kResumeSourceCapacity];        // host and path the pack came from
    unsigned char versionDigest[kReleaseDigestSize]; // SHA-256 of the version file it was checked against
    wchar_t line[kRefusalLineCapacity];           // the refusal's log line
    int64_t keptAt;                               // when it was kept, seconds since 1970 UTC
};

// How long a kept refusal holds; after that the pack is fetched whole again.
const int64_t kRefusalLifetimeSeconds = 24 * 60 * 60;

// The stored text; its length in characters, or 0 when a value cannot be stored (an empty
// validator or source, a line break inside a value, no room).
size_t FormatPackRefusal(const PackRefusal& refusal, wchar_t* text, size_t capacity);
// Reads that text back; false for anything it would not have written.
bool ParsePackRefusal(const wchar_t* text, size_t length, PackRefusal* refusal);

// True when the refusal concerns the pack now asked for: the same source, checked against a
// version file with the same digest, kept less than kRefusalLifetimeSeconds before now (a clock
// that went back lets it lapse too).
bool RefusalStillApplies(const PackRefusal& refusal, const wchar_t* source, const unsigned char* versionDigest,
                         int64_t now);

// Whether a refused pack's refusal may be kept: only for a verdict on the bytes of one whole 200
// answer. oneWholeAnswer: the pack came whole from one 200 (not assembled across a resume, not
// through the fallback, which keeps no validator); notAProgram: its head was read and is not a
// program; verdict: the release check's (kReleaseAccepted when it did not run). An unreadable file,
// a failed call (a signature check that could not run) or an expiry is no verdict on the bytes.
bool RefusalMayBeKept(bool oneWholeAnswer, bool notAProgram, ReleaseVerdict verdict);
