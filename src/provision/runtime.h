// The private runtime in the per-user cache: the version check against the download server, the
// download of the runtime pack, its extraction into a staging folder and the switch to the new
// runtime, one start at a time.
#pragma once

#include <windows.h>

// Makes sure the runtime in the cache is installed, completely unpacked and not older than the
// server's version. Holds the cache lock throughout, so a second start waits and then finds the
// runtime current. The installed runtime and version.txt stay as they are until a new runtime has
// unpacked completely; only then is the old one set aside, the new one moved into place and
// marked, and version.txt replaced. Anything that fails before that leaves the installed runtime
// in place. Returns 1 when the runtime is current or was installed, 0 otherwise (the worker goes
// on either way).
int EnsureRuntime();

// Takes the lock that lets one start at a time change the runtime cache, waiting (with a log line)
// while another start holds it; a lock left by a start that was ended is taken over. Returns the
// handle for ReleaseRuntimeCacheLock, or null when no lock could be made (the caller goes on).
HANDLE AcquireRuntimeCacheLock();
void ReleaseRuntimeCacheLock(HANDLE lock);

// The version number at the start of the file (at most 599 bytes are read); -1 when the file
// cannot be opened.
int ReadVersionNumber(const wchar_t* path);

// True when the runtime pack can be opened for reading and is not empty.
bool RuntimePackPresent();

// Runs the pack placed in the staging folder with "-y", from inside that folder, and waits for it.
// Returns 1 when it ran to its end with exit code 0; 0 when there is no pack, it could not be
// started, or it failed (its exit code is logged).
int RunExtract();

// True when this start's pack was not run because the machine refused to start it (application
// control): a missing runtime is then explained, and deleting the cache would not help.
bool PackStartRefused();
