// The release keys built into the program (see cmake/release_key.cmake): how many there are (0:
// none, every download is trusted on TLS alone) and each one's raw X||Y. A version file signed by
// any of them counts, so a key can be rotated: launchers ship with the old and the new key before
// releases are signed with the new one. Defined in a generated source of its own, so one build can
// link the program with other keys for its tests.
#pragma once

#include <stddef.h>

#include "provision/release_rules.h"

enum : size_t { kReleaseKeyLimit = 4 };

extern const size_t kReleaseKeyCount;
extern const unsigned char kReleasePublicKeys[kReleaseKeyLimit][kReleasePublicKeySize];
