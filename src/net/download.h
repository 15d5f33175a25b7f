// HTTPS file download from the download host with two attempts (the first through the user's
// proxy), and the once-per-process report of an HTTP error status. Both downloads ask for TLS 1.2
// and 1.3 only, and every incomplete body or missing connection is reported as 0.
#pragma once

#include <windows.h>
#include <winhttp.h>

// Secure protocols that both downloads ask for: TLS 1.2 | TLS 1.3.
enum : DWORD { kSecureProtocols = 0x00000800 | 0x00002000 };

// 1 when the file was received whole (or a 407 answer's body was stored); 0 for an HTTP error
// status, no connection, a failed or short body, or a target file that failed to open or close.
int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog);
void ReportHttpStatus(DWORD statusCode, bool showDialog);

// The warning dialog of both operations ("tarvolin Launcher Fehler", no owner window).
void ShowDownloadWarning(const wchar_t* text);

// Reads the announced Content-Length of an answer; false when the server sent none.
bool QueryContentLength(HINTERNET request, ULONGLONG* length);
