// What a start learns from the server's version file and keeps in the state record for the
// launcher archive's check: a plain record with no behaviour, so that the state record beneath every
// room can hold it. The release check fills it (provision/release_rules.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : size_t {
    kReleaseDigestSize = 32,
    kUtcTimeLength = 20,  // "YYYY-MM-DDTHH:MM:SSZ"
};

// What the server's version file says on a start's first fetch, as far as it can be trusted: the
// number that decides whether to install, whether a launcher with a key could verify it, whether
// it has expired, and the launcher archive it vouches for.
struct Announcement {
    int version;
    bool readsNumber;  // the file holds a number at all (an offline start's empty file does not)
    bool keyPresent;
    bool verified;     // with a key: readable, well-formed and signed by one of the keys
    bool malformed;
    bool expired;
    bool hasArchiveSize;
    uint64_t archiveSize;
    bool hasArchiveDigest;
    unsigned char archiveDigest[kReleaseDigestSize];
    char expiresText[kUtcTimeLength + 1];
    unsigned rollout;  // percent of the desktops with a runtime that take it: 100 unless the file
                       // says less and can be trusted (no key, or verified)
};
