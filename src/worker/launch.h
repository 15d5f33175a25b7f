// Start of the Java launcher: the javaw command line with its system properties, the process
// start, and the recovery (delete the runtime cache and restart) after a failed start.
#pragma once

void RunLauncher();
