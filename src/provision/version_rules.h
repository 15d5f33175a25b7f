// Decisions of the runtime check that need no platform: the version text's number and whether
// the installed runtime is current.
#pragma once

// The number at the start of a version text: leading white space, an optional sign, decimal
// digits; 0 without digits; clamped to the signed 32-bit range.
int ParseVersionText(const char* text);

// True when the text holds a number as ParseVersionText reads it: digits after the white space and
// the optional sign. An empty file, a page or a cut answer holds none.
bool VersionTextHasNumber(const char* text);

bool RuntimeIsCurrent(bool binFolderExists, bool forceDownload, int remoteVersion, int localVersion,
                      bool markerExists);
