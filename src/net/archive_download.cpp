#include "net/archive_download.h"

#include <winhttp.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/auth_rules.h"
#include "net/download.h"
#include "net/request.h"

namespace {

enum : int { kMessageCapacity = 4096 };

const BodyReadTexts kFetchBodyTexts = {
    L"FetchFileConditionally: Keine Daten vorhanden",
    L"FetchFileConditionally: Out of memory",
    L"FetchFileConditionally: Error in WinHttpReadData",
    L"FetchFileConditionally: Antwort unvollst\u00e4ndig, %llu von %llu Bytes erhalten",
    L"FetchFileConditionally: Datei konnte nicht geschrieben werden",
    L"FetchFileConditionally: Antwort gr\u00f6\u00dfer als %llu Bytes, abgebrochen",
    L"FetchFileConditionally: weniger als %llu Bytes in %llu s erhalten, Download abgebrochen",
    L"FetchFileConditionally: zu wenig Speicherplatz, %llu Bytes frei nach %llu Bytes, Download abgebrochen",
};

// Writes the 200 body into a new targetFile, hashing it on the way; the file is deleted again
// unless the body arrived whole.
int ReceiveFile(HINTERNET request, const wchar_t* targetFile, uint64_t byteLimit, FetchedFile* out)
{
    Sha256Run sha = {};
    int result = kFetchFailed;
    int body = kBodyFailed;
    BodyOptions options = {byteLimit, nullptr, &sha, 0};
    LARGE_INTEGER size = {};
    bool began = BeginSha256(&sha) == 0;
    HANDLE file = CreateFileW(targetFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        wchar_t text[kMessageCapacity];
        BoundedFormat(text, kMessageCapacity, L"Could not create destination file \"%s\"", targetFile);
        LogLine(text);
        ShowWarning(text);
        goto quit;
    }
    if (!began)
        options.sha = nullptr;
    body = ReadBodyToFile(request, file, kFetchBodyTexts, nullptr, &options);
    GetFileSizeEx(file, &size);
    if (!CloseHandle(file)) {
        LogLine(L"Could not close temp file");
        body = kBodyFailed;
    }
    if (body != kBodyWhole) {
        if (!DeleteFileW(targetFile))
            LogSystemError(GetLastError(), targetFile);
        goto quit;
    }
    out->length = static_cast<uint64_t>(size.QuadPart);
    out->hashed = began && options.shaStatus == 0 && EndSha256(&sha, out->sha256) == 0;
    result = kFetchReceived;

quit:
    CloseSha256(&sha);
    return result;
}

} // namespace

int FetchFileConditionally(const wchar_t* serverPath, const wchar_t* targetFile, const wchar_t* validator,
                           uint64_t byteLimit, FetchedFile* out)
{
    *out = FetchedFile{};
    wchar_t headers[kConditionalHeadersCapacity];
    bool conditional = validator && *validator &&
                       FormatConditionalHeaders(headers, kConditionalHeadersCapacity, validator);
    // To the log this is the direct download it replaces; only the condition is a line of its own.
    LogPrintf(L"DownloadfileDirect https://%s%s to %s", launcherState.downloadHost, serverPath, targetFile);
    if (conditional)
        LogPrintf(L"FetchFileConditionally: nur falls ge\u00e4ndert, vorhanden: %s", validator);

    DownloadRequest handles = {};
    int result = kFetchNoConnection;
    DWORD error = ExchangeDownloadRequest(serverPath, 1, conditional ? headers : nullptr, &handles);
    if (error) {
        LogSystemError(error, L"Kein Netzwerkzugriff");
        goto quit;
    }
    out->status = QueryStatusCode(handles.request);
    QueryAnswerValidator(handles.request, out->validator);
    if (out->status == 0) {
        LogLine(L"FetchFileConditionally: Antwort ohne lesbaren Status");
        goto quit;
    }
    if (out->status == 304 && conditional) {
        LogLine(L"FetchFileConditionally: 304, Datei auf dem Server unver\u00e4ndert");
        result = kFetchNotModified;
    } else if (out->status == 407) {
        // A proxy's login, not an answer of the server, and no error status: the caller goes on as
        // without an answer, and the start's one status report stays for a real error.
        ReportProxyLogin();
        result = kFetchNoConnection;
    } else if (IsHttpErrorStatus(out->status)) {
        ReportHttpStatus(out->status, false);
        result = kFetchHttpError;
    } else if (out->status == 200) {
        result = ReceiveFile(handles.request, targetFile, byteLimit, out);
    } else {
        LogPrintf(L"FetchFileConditionally: unerwarteter Status %u, nichts geschrieben", out->status);
        result = kFetchFailed;
    }

quit:
    CloseDownloadRequest(&handles);
    return result;
}
