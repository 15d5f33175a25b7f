// HTTPS file download from the download host with two attempts (the first through the user's
// proxy), and the once-per-process report of an HTTP error status.
#pragma once

#include <windows.h>

int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog);
void ReportHttpStatus(DWORD statusCode, bool showDialog);
