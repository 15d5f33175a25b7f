// Decisions of the runtime install that need no platform: whether a downloaded pack is a Windows
// program at all, the name of the lock that lets one start at a time install into a cache folder,
// how a start repairs what an interrupted install left, which version file an install takes (the
// server's, or without an answer the release's delivered beside the program), and which staging
// folder a new runtime unpacks into and whether a waiting one is still its release.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct ReleaseLines;

enum : size_t {
    // The part of a pack read to recognise it; linkers put the PE header within the first few
    // hundred bytes, so a header beyond this is not taken for a program.
    kProgramHeadSize = 4096,
    kInstallLockNameCapacity = 64,
};

// True when head (the first headSize bytes of a file) begins with the "MZ" header and holds the
// "PE\0\0" signature where that header's offset field says.
bool IsWindowsProgramImage(const unsigned char* head, size_t headSize);

// The session-local mutex name for installs into cacheFolder: the same for every spelling of the
// folder that differs only in case, different for different folders, and free of backslashes
// after the namespace (a mutex name may not hold them).
void InstallLockName(const wchar_t* cacheFolder, wchar_t* name, size_t capacity);

// What a start does about a set-aside runtime (jre.old) that an interrupted install left, from
// whether the runtime folder (jre) and the set-aside one exist and are whole (marker and javaw).
enum SetAsideRepair {
    kSetAsideNone,    // there is none
    kSetAsideDelete,  // jre is whole: the set-aside one is a leftover
    kSetAsidePutBack, // jre is missing or not whole: the set-aside one goes back in its place
    kSetAsideKeep,    // neither is whole: both stay until the install has a whole one in place
};
SetAsideRepair DecideSetAsideRepair(bool runtimeExists, bool runtimeWhole, bool setAsideExists, bool setAsideWhole);

// What the switch clears before it moves a checked, whole new runtime into place while a set-aside
// runtime is still there. With a whole runtime to switch in, a set-aside one is never put back,
// even where a start could not put it back: it is deleted once the new runtime is in place.
enum SwitchClearing {
    kSwitchClearNothing,   // jre, when there is one, is set aside as usual
    kSwitchDeleteSetAside, // jre is whole: the set-aside one is a leftover and goes first
    kSwitchRemoveRuntime,  // jre is not whole: it goes, so that the new runtime takes its place
};
SwitchClearing DecideSwitchClearing(bool runtimeExists, bool runtimeWhole, bool setAsideExists);

// Which version file decides the install and becomes version.txt: the second fetch when it names
// a number; otherwise, only when no whole runtime is installed (a user who has none), the first
// fetch's file when it names one. kInstallVersionNone: no install this start.
enum InstallVersionSource { kInstallVersionSecond, kInstallVersionFirst, kInstallVersionNone };
InstallVersionSource ChooseInstallVersionFile(bool secondNamesNumber, bool wholeRuntimeInstalled,
                                              bool firstNamesNumber);

// Whether a start installs the release delivered beside the program (its version file lines, read
// when delivered) because the server could not give it one: only for a user with no whole runtime,
// and only when neither fetch of the server's version file named a number. The delivered file
// passes the checks a second fetch passes: a number; with a key a signature that verifies and a
// number not below floor (version.txt's and the highest verified one this cache has seen). An
// expired release is still installed: with no runtime and no server it is better than none, and a
// later start with the server brings the runtime to the server's release.
enum OfflineRelease {
    kOfflineNotAsked,         // a whole runtime is there, or the server named a number: the usual way
    kOfflineNothingDelivered, // no version file beside the program (the common case)
    kOfflineNoNumber,
    kOfflineUnverified,       // with a key: no signature of the file verifies
    kOfflineOlderThanSeen,    // with a key: below floor
    kOfflineInstalls,
    kOfflineInstallsExpired,
};
OfflineRelease JudgeOfflineRelease(bool wholeRuntimeInstalled, bool serverNamedNumber, bool delivered,
                                   const ReleaseLines& lines, bool keyPresent, bool verified, int floor, int64_t now);

// A new runtime unpacks into one of kStagingSlotCount staging folders: the first that is clear
// (slotClear[i]: the folder does not exist, or was emptied). A folder that cannot be cleared is
// never used again until a later start has removed it; -1 when none is clear.
enum : int { kStagingSlotCount = 8 };
int ChooseStagingSlot(const bool* slotClear, int count);

// The record a waiting runtime keeps in its staging folder: the SHA-256 of the version file it
// was checked against and, when known, of the pack it came from. Its length, 0 when it does not fit.
enum : size_t { kStagedReleaseTextCapacity = 200, kStagedDigestSize = 32 };
size_t FormatStagedRelease(const unsigned char* versionDigest, const unsigned char* packDigest, char* text,
                           size_t capacity);
// True when the record (length bytes) names a version file with this digest: only then may the
// waiting runtime be committed under that version file.
bool StagedReleaseMatches(const char* text, size_t length, const unsigned char* versionDigest);
