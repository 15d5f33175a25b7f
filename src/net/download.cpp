#include "net/download.h"

#include <winhttp.h>

#include <stdlib.h>

#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/auth_rules.h"
#include "net/proxy_script.h"
#include "net/request.h"
#include "net/resume_rules.h"

namespace {

enum : int {
    kMessageCapacity = 4096,
    kAttempts = 2,
    kLengthTextCapacity = 128,
};

// Opens the request on the attempt's route and sends it; 0 or the error of the failing call.
DWORD SendAttempt(int attempt, const wchar_t* serverPath, int useTls, DownloadRequest* handles)
{
    DWORD error = OpenDownloadRequest(kDirectUserAgent, UserDownloadRoute(attempt, useTls), serverPath, useTls, handles);
    if (error)
        return error;
    if (!WinHttpSendRequest(handles->request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return GetLastError();
    return 0;
}

DWORD QueryStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

} // namespace

const wchar_t kDirectUserAgent[] = L"WinHTTP tarvolin Client Launcher";

const BodyReadTexts kDirectBodyTexts = {
    L"DownloadfileDirect: Keine Daten vorhanden",
    L"Out of memory",
    L"Error %u in WinHttpReadData.\n",
    L"DownloadfileDirect: Antwort unvollst\u00e4ndig, %llu von %llu Bytes erhalten",
    L"DownloadfileDirect: Datei konnte nicht geschrieben werden",
};

void ShowDownloadWarning(const wchar_t* text)
{
    HoldWarning(text);
}

bool WriteBodyChunk(HANDLE file, const void* data, DWORD size, const wchar_t* context)
{
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr)) {
        LogSystemError(GetLastError(), context);
        return false;
    }
    if (written != size) {
        wchar_t line[kMessageCapacity];
        BoundedFormat(line, kMessageCapacity, L"%s: %lu von %lu Bytes geschrieben", context, written, size);
        LogLine(line);
        return false;
    }
    return true;
}

int ReadBodyToFile(HINTERNET request, HANDLE file, const BodyReadTexts& texts, const wchar_t* chunkServerPath)
{
    ULONGLONG announced = 0;
    bool hasLength = QueryContentLength(request, &announced);
    ULONGLONG received = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            LogSystemError(GetLastError(), texts.noData);
            return 0;
        }
        if (available == 0)
            break;
        char* buffer = static_cast<char*>(calloc(size_t(available) + 1, 1));
        if (!buffer) {
            LogLine(texts.outOfMemory);
            return 0;
        }
        if (chunkServerPath)
            LogPrintf(L"from https://%s/%s loading %d bytes", launcherState.downloadHost, chunkServerPath,
                      static_cast<int>(available));
        DWORD read = 0;
        bool failed = false;
        if (!WinHttpReadData(request, buffer, available, &read)) {
            LogSystemError(GetLastError(), texts.readFailed);
            read = 0;
            failed = true;
        } else if (!WriteBodyChunk(file, buffer, read, texts.writeFailed)) {
            // A full disk must not pass for a whole file: the pack would run truncated.
            failed = true;
        }
        received += read;
        free(buffer);
        if (failed)
            return 0;
        if (read == 0)
            break;
    }
    if (!BodyIsWhole(hasLength, announced, received)) {
        LogPrintf(texts.incomplete, received, announced);
        return 0;
    }
    return 1;
}

bool QueryContentLength(HINTERNET request, ULONGLONG* length)
{
    // Read as text: the numeric query gives 32 bits, and a body of 4 GiB or more would count as
    // short. An unreadable or malformed value counts as none announced.
    wchar_t text[kLengthTextCapacity];
    DWORD bytes = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    uint64_t value = 0;
    if (!ParseContentLength(text, &value))
        return false;
    *length = value;
    return true;
}

int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog)
{
    LogPrintf(L"DownloadfileDirect https://%s%s to %s", launcherState.downloadHost, serverPath, targetFile);

    HANDLE file = CreateFileW(targetFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        wchar_t text[kMessageCapacity];
        BoundedFormat(text, kMessageCapacity, L"Could not create destination file \"%s\"", targetFile);
        LogLine(text);
        ShowDownloadWarning(text);
        return 0;
    }

    DownloadRequest handles = {};
    DWORD error = 0;
    int result = 0;
    DWORD status = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        CloseDownloadRequest(&handles); // what a failed first attempt left open
        error = SendAttempt(attempt, serverPath, useTls, &handles);
        if (!error)
            break;
    }
    if (!error && !WinHttpReceiveResponse(handles.request, nullptr))
        error = GetLastError();
    if (error) {
        LogSystemError(error, L"Kein Netzwerkzugriff");
        goto quit;
    }

    status = QueryStatus(handles.request);
    switch (ClassifyDirectStatus(status)) {
    case DirectStatus::ProxyLogin:
        // The proxy's page is no file of ours: 0 sends the caller to the fallback, which logs in.
        LogLine(L"DownloadfileDirect 407: The proxy requires authentication.");
        break;
    case DirectStatus::HttpError:
        ReportHttpStatus(status, showDialog);
        break;
    case DirectStatus::Body:
        result = ReadBodyToFile(handles.request, file, kDirectBodyTexts, nullptr);
        break;
    }

quit:
    CloseDownloadRequest(&handles);
    if (!CloseHandle(file)) {
        LogLine(L"Could not close temp file");
        return 0;
    }
    return result;
}

void ReportHttpStatus(DWORD statusCode, bool showDialog)
{
    int earlier = launcherState.statusMessageCount;
    launcherState.statusMessageCount = earlier + 1;
    if (earlier > 0)
        return;
    wchar_t text[kMessageCapacity];
    BoundedFormat(text, kMessageCapacity, HttpStatusMessageFormat(statusCode), static_cast<int>(statusCode));
    LogLine(text);
    if (showDialog)
        ShowDownloadWarning(text);
}
