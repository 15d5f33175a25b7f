// The launcher property file: line-based "key=value" text that sets the download host, may
// replace the two server paths of the runtime files and may force a runtime download.
#pragma once

#include <stddef.h>

enum : int { kPropertyLineCapacity = 2000 };

// What one line (a piece of at most 1999 characters) does.
enum class PropertyKey { kNone, kForceDownload, kHostname, kVersionDownloadPath, kResourceDownloadPath };

// Recognises the line by its beginning; for a key with a value, *value points behind the '='
// and *valueLength counts up to the first CR or LF.
PropertyKey ClassifyPropertyLine(const char* line, const char** value, size_t* valueLength);

// Reads the file named by propertyFilePath into the state. The open's error number, or 0.
int ReadLauncherProperties();
