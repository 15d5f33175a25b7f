// HTTPS file download from the download host with two attempts (the first through the user's
// proxy), and the once-per-process report of an HTTP error status. Both downloads ask for TLS 1.2
// and 1.3 (1.2 alone where the stack refuses 1.3), and every incomplete body, missing connection
// or proxy login is reported as 0. Every download keeps the bounds of transfer_rules.h: a byte
// limit, the low-speed rule and the request time-outs.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <stdint.h>

#include "net/request.h"
#include "net/sha256.h"
#include "net/transfer_rules.h"

// 1 when the file was received whole; 0 for an HTTP error status, a proxy's 407 (the target file
// stays empty, no status message: the caller's fallback answers the login), no connection, a
// failed, short or too slow body, a body longer than byteLimit (kNoByteLimit: none; nothing is
// written beyond it), or a target file that failed to open or close.
int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog,
                       uint64_t byteLimit);
void ReportHttpStatus(DWORD statusCode, bool showDialog);
// The line of a proxy's 407 to a plain request: no error of the server, and never a box.
void ReportProxyLogin();

// Reads the announced Content-Length of an answer; false when the server sent none.
bool QueryContentLength(HINTERNET request, ULONGLONG* length);

// The log texts of the body reading that differ between the two downloads.
struct BodyReadTexts {
    const wchar_t* noData;      // context when the data query fails
    const wchar_t* outOfMemory; // line when no chunk buffer can be had
    const wchar_t* readFailed;  // context when a read fails
    const wchar_t* incomplete;  // format with the bytes received and announced (two %llu)
    const wchar_t* writeFailed; // context when a chunk cannot be written whole
    const wchar_t* tooLarge;    // format with the byte limit (one %llu)
    const wchar_t* tooSlow;     // format with the low-speed rule's bytes and seconds (two %llu)
    const wchar_t* noRoom;      // format with the free and the received bytes (two %llu)
};

// The user agent and body texts of DownloadfileDirect; the runtime pack's download is the same
// download to the server and to the log, with a partial file that it can continue.
extern const wchar_t kDirectUserAgent[];
extern const BodyReadTexts kDirectBodyTexts;

// What a body reading keeps to besides the low-speed rule, which always applies.
struct BodyOptions {
    uint64_t byteLimit;         // no byte beyond it is written (kNoByteLimit: none)
    const wchar_t* roomFolder;  // null, or a folder whose volume keeps RoomLeftWhileReceiving
    Sha256Run* sha;             // null, or a begun digest that each written chunk is added to
    unsigned long shaStatus;    // out: 0, or the CNG status of the first failing AddSha256
};

enum BodyResult : int {
    kBodyFailed = 0,  // broke off, short, too slow, or a read or write failed
    kBodyWhole = 1,   // read to its end, written whole, matching its Content-Length
    kBodyStopped = 2, // announced or grown beyond the byte limit, or the volume's room ran out:
                      // what was written is of no use
};

// Streams the answer body into file chunk by chunk; a BodyResult, with one log line unless whole.
// With chunkServerPath given, each chunk is announced in the log first.
int ReadBodyToFile(HINTERNET request, HANDLE file, const BodyReadTexts& texts, const wchar_t* chunkServerPath,
                   BodyOptions* options);

// Opens and sends the request on the attempt's route (two attempts, the first through the user's
// proxy), with headers when given, and receives the answer's head; 0 or the error code of the
// failing call. What a failed attempt left open is closed; handles is closed by the caller.
DWORD ExchangeDownloadRequest(const wchar_t* serverPath, int useTls, const wchar_t* headers, DownloadRequest* handles);

// The numeric status of the answer; 0 when it cannot be read.
DWORD QueryStatusCode(HINTERNET request);

// The answer's validator (ChooseValidator of its ETag and Last-Modified) into validator
// (kValidatorCapacity); "" when it has none. An ETag too long to read does not make the date the
// validator.
void QueryAnswerValidator(HINTERNET request, wchar_t* validator);

// A response header by name into text; false when absent or unreadable (text then empty).
bool QueryHeaderValue(HINTERNET request, const wchar_t* name, wchar_t* text, DWORD capacity);

// Writes one chunk; false, with a log line naming context, when the write fails or is short.
bool WriteBodyChunk(HANDLE file, const void* data, DWORD size, const wchar_t* context);
