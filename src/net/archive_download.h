// A file fetched only when it changed: the launcher archive, asked for with the validator of the
// copy the caller has. The same route, two attempts, user agent, TLS and log line as
// DownloadfileDirect; an error status is only logged (no box), while a target file that cannot be
// created shows DownloadfileDirect's box. The target file is created only when a 200 body arrives,
// so a 304 or a failure leaves an earlier copy as it was; a body that fails is deleted.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "net/resume_rules.h"
#include "net/sha256.h"
#include "net/transfer_rules.h"

enum FetchResult : int {
    kFetchReceived = 1,     // a 200 body is in targetFile whole
    kFetchNotModified = 2,  // 304 to the conditional request; targetFile untouched
    kFetchHttpError = 3,    // a status from 400 to 599 other than 407 (logged once, as
                            // ReportHttpStatus does without its box)
    kFetchNoConnection = 4, // no answer from the server: none at all, or a proxy's 407 (there is
                            // no fallback that logs in here)
    kFetchFailed = 5,       // the body could not be written, outgrew byteLimit, was too slow or
                            // short, or the answer was none of the above
};

struct FetchedFile {
    DWORD status;                          // the answer's status, 0 when none came
    wchar_t validator[kValidatorCapacity]; // the answer's validator (strong ETag, else Last-Modified), or ""
    uint64_t length;                       // bytes written (kFetchReceived)
    unsigned char sha256[kSha256Size];     // their SHA-256 when hashed
    bool hashed;
};

// Fetches serverPath from the download host into targetFile; validator null or "" is a plain GET,
// otherwise the request carries If-None-Match (an ETag) or If-Modified-Since (a date). out
// receives what is known of the answer in every outcome.
int FetchFileConditionally(const wchar_t* serverPath, const wchar_t* targetFile, const wchar_t* validator,
                           uint64_t byteLimit, FetchedFile* out);
