// The release key built into the program (see cmake/release_key.cmake): whether there is one, and
// its raw X||Y. Defined in a generated source of its own, so one build can link the program with
// another key for its tests.
#pragma once

#include "provision/release_rules.h"

extern const bool kReleaseKeyBuiltIn;
extern const unsigned char kReleasePublicKey[kReleasePublicKeySize];
