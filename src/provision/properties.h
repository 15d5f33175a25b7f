// The launcher property file: line-based "key=value" text that sets the download host, may
// replace the two server paths of the runtime files and may force a runtime download.
#pragma once

// Reads the file named by propertyFilePath into the state. The open's error number, or 0.
int ReadLauncherProperties();
