// The private runtime in the per-user cache: the version check against the download server, the
// download of the runtime pack and its extraction, and the marker of a completed install.
#pragma once

int EnsureRuntime();
// The number in a version file; -1 when the file cannot be opened.
int ReadVersionNumber(const wchar_t* path);
bool RuntimePackPresent();
// 1 when the extractor was started and ended with exit code 0, otherwise 0.
int RunExtract();
