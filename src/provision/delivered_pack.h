// A release delivered with the software distribution: the operator may place a signed release's
// version file and pack in the folder "runtime" beside the program, so that desktops whose cache
// is thrown away at every logon, and a whole fleet on its first day, need not download the pack,
// and a user without a runtime whose server cannot be reached still gets one.
#pragma once

#include "net/sha256.h"

// When the folder beside the program holds the release numbered version, and its pack passes the
// check a downloaded pack must pass against versionFile (the install's version file from the
// server), copies that pack to the cache's pack path and returns true, with one log line; digest
// then holds the pack's size and digest when the check read them, as a download leaves them, so
// that the install's check of the copy does not read the pack again. Returns false, with one line
// when something was there but not used, when the pack is to be downloaded.
// offline: the server gave no version file and versionFile is the delivered one
// (TakeDeliveredVersionFile): its expiry is passed over, and nothing is downloaded instead.
bool TakeDeliveredPack(int version, const wchar_t* versionFile, FileDigest* digest, bool offline = false);

// For an install whose server named no version (neither fetch of its version file named a number):
// when the delivered release may be installed (JudgeOfflineRelease), writes its version file to
// versionFile, the install's, which becomes version.txt like a server's, and returns true with its
// number in *version; an expired one is said in one line. When a release was delivered but may
// not be installed, one line says why. floor: version.txt's number.
bool TakeDeliveredVersionFile(bool wholeRuntimeInstalled, bool serverNamedNumber, int floor, const wchar_t* versionFile,
                              int* version);
