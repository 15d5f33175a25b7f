// HTTPS file download from the download host with two attempts (the first through the user's
// proxy), and the once-per-process report of an HTTP error status. Both downloads ask for TLS 1.2
// and 1.3 (1.2 alone where the stack refuses 1.3), and every incomplete body, missing connection
// or proxy login is reported as 0.
#pragma once

#include <windows.h>
#include <winhttp.h>

// 1 when the file was received whole; 0 for an HTTP error status, a proxy's 407 (the target file
// stays empty, no status message: the caller's fallback answers the login), no connection, a
// failed or short body, or a target file that failed to open or close.
int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog);
void ReportHttpStatus(DWORD statusCode, bool showDialog);

// The warning dialog of both operations ("tarvolin Launcher Fehler", no owner window), held back
// until the launcher has started (log/warnings.h).
void ShowDownloadWarning(const wchar_t* text);

// Reads the announced Content-Length of an answer; false when the server sent none.
bool QueryContentLength(HINTERNET request, ULONGLONG* length);

// The log texts of the body reading that differ between the two downloads.
struct BodyReadTexts {
    const wchar_t* noData;      // context when the data query fails
    const wchar_t* outOfMemory; // line when no chunk buffer can be had
    const wchar_t* readFailed;  // context when a read fails
    const wchar_t* incomplete;  // format with the bytes received and announced (two %llu)
    const wchar_t* writeFailed; // context when a chunk cannot be written whole
};

// The user agent and body texts of DownloadfileDirect; the runtime pack's download is the same
// download to the server and to the log, with a partial file that it can continue.
extern const wchar_t kDirectUserAgent[];
extern const BodyReadTexts kDirectBodyTexts;

// Streams the answer body into file chunk by chunk. 1 only when the body was read to its end,
// every chunk was written whole and the body matches its Content-Length; 0 otherwise, with one
// log line. With chunkServerPath given, each chunk is announced in the log first.
int ReadBodyToFile(HINTERNET request, HANDLE file, const BodyReadTexts& texts, const wchar_t* chunkServerPath);

// Writes one chunk; false, with a log line naming context, when the write fails or is short.
bool WriteBodyChunk(HANDLE file, const void* data, DWORD size, const wchar_t* context);
