// The private runtime in the per-user cache: the version check against the download server, the
// download of the runtime pack and its extraction, and the marker of a completed install.
#pragma once

// Makes sure the runtime in the cache is installed, completely unpacked and not older than the
// server's version. A pack that cannot be downloaded leaves the installed runtime in place and
// removes version.txt, so the next run tries the update again. The marker is removed before
// version.txt is rewritten, so a run that ends anywhere in an install leaves the next run
// installing; an extractor left running by such a run is waited for before the pack is fetched.
// Returns 1 when the runtime is current or was installed, 0 otherwise (the worker goes on either
// way).
int EnsureRuntime();

// The version number at the start of the file (at most 599 bytes are read); -1 when the file
// cannot be opened.
int ReadVersionNumber(const wchar_t* path);

// True when the runtime pack can be opened for reading and is not empty.
bool RuntimePackPresent();

// Runs the runtime pack with "-y" in the cache folder and waits for it. Returns 1 when it ran to
// its end with exit code 0; 0 when there is no pack, it could not be started, or it failed (its
// exit code is logged). The marker is written only after a 1.
int RunExtract();
