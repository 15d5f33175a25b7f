// The launch worker: the program's one background thread. It writes and reads the property file,
// ensures the private runtime, writes the launcher archive, asks the download host for the
// launcher archive it serves and starts the Java launcher, strictly in that order.
#pragma once

#include <windows.h>

DWORD WINAPI LaunchWorker(LPVOID);
