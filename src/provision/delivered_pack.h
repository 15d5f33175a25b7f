// A release delivered with the software distribution: the operator may place a signed release's
// version file and pack in the folder "runtime" beside the program, so that desktops whose cache
// is thrown away at every logon, and a whole fleet on its first day, need not download the pack.
#pragma once

#include "net/sha256.h"

// When the folder beside the program holds the release numbered version, and its pack passes the
// check a downloaded pack must pass against versionFile (the install's version file from the
// server), copies that pack to the cache's pack path and returns true, with one log line; digest
// then holds the pack's size and digest when the check read them, as a download leaves them, so
// that the install's check of the copy does not read the pack again. Returns false, with one line
// when something was there but not used, when the pack is to be downloaded.
bool TakeDeliveredPack(int version, const wchar_t* versionFile, FileDigest* digest);
