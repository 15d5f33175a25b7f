// The launch worker: the program's one background thread. It writes and reads the property file,
// ensures the private runtime, writes the launcher archive, probes the download host for a generic
// launcher archive and starts the Java launcher, strictly in that order.
#pragma once

#include <windows.h>

DWORD WINAPI LaunchWorker(LPVOID);

// Downloads the generic launcher archive into a new "lnc" temporary file. True when the download
// returned 1. archivePath (kPathCapacity characters, may be null) receives the file's name once
// the file exists. The worker then starts the launcher in every outcome, with this archive
// instead of the embedded one only when it is a whole ZIP archive.
bool provideGenenricLauncherJar(wchar_t* archivePath);
