// What is kept of a refused runtime pack so that the next start does not fetch the same bytes to
// refuse them again: the validator the server sent with the pack, where it came from, the digest
// of the version file it was checked against, and the line that said why. The next start asks for
// the pack only if it changed (If-None-Match / If-Modified-Since); a 304 repeats the refusal. Kept
// as UTF-16 text (the line may name a path in any language); no platform needed.
#pragma once

#include <stddef.h>

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
};

// The stored text; its length in characters, or 0 when a value cannot be stored (an empty
// validator or source, a line break inside a value, no room).
size_t FormatPackRefusal(const PackRefusal& refusal, wchar_t* text, size_t capacity);
// Reads that text back; false for anything it would not have written.
bool ParsePackRefusal(const wchar_t* text, size_t length, PackRefusal* refusal);

// True when the refusal concerns the pack now asked for: the same source, checked against a
// version file with the same digest.
bool RefusalStillApplies(const PackRefusal& refusal, const wchar_t* source, const unsigned char* versionDigest);
