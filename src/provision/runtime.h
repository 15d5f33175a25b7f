// The private runtime in the per-user cache: the version check against the download server, the
// download of the runtime pack and its extraction, and the marker of a completed install.
#pragma once

int EnsureRuntime();
int ReadVersionNumber(const wchar_t* path);
bool RuntimePackPresent();
int RunExtract();
