#include "net/download.h"

#include <winhttp.h>

#include <stdlib.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/auth_rules.h"
#include "net/proxy_script.h"
#include "net/request.h"
#include "net/resume_rules.h"
#include "net/transfer_rules.h"

namespace {

enum : int {
    kMessageCapacity = 4096,
    kAttempts = 2,
    kLengthTextCapacity = 128,
    kHeaderTextCapacity = 1024,
};

enum class HeaderText { Absent, Present, Unreadable };

// A response header by name; an unreadable one (too long, or a failing query) is told apart from
// an absent one, so that an ETag too long to keep does not make the date the validator.
HeaderText QueryHeaderText(HINTERNET request, const wchar_t* name, wchar_t* text, DWORD capacity)
{
    DWORD bytes = capacity * sizeof(wchar_t);
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, text, &bytes, WINHTTP_NO_HEADER_INDEX))
        return HeaderText::Present;
    text[0] = L'\0';
    return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND ? HeaderText::Absent : HeaderText::Unreadable;
}

void LogTooSlow(const BodyReadTexts& texts)
{
    LogPrintf(texts.tooSlow, static_cast<unsigned long long>(kLowSpeedLimitBytes),
              static_cast<unsigned long long>(kLowSpeedTimeMs / 1000));
}

// The one line of a read that failed: the low-speed rule's line when the read gave up on a
// transfer the rule finds too slow, the error otherwise.
void ReportReadFailure(DWORD error, const wchar_t* context, const BodyReadTexts& texts, LowSpeedWatch* watch,
                       uint64_t received)
{
    if (error == ERROR_WINHTTP_TIMEOUT && TransferTooSlow(watch, GetTickCount64(), received))
        LogTooSlow(texts);
    else
        LogSystemError(error, context);
}

// False, with the line, when the volume of folder keeps less room than the bytes received call
// for; a volume whose free room cannot be read is not held against the download.
bool RoomLeft(const wchar_t* folder, uint64_t received, const BodyReadTexts& texts)
{
    ULARGE_INTEGER freeToUser = {};
    if (!GetDiskFreeSpaceExW(folder, &freeToUser, nullptr, nullptr))
        return true;
    if (RoomLeftWhileReceiving(freeToUser.QuadPart, received))
        return true;
    LogPrintf(texts.noRoom, static_cast<unsigned long long>(freeToUser.QuadPart),
              static_cast<unsigned long long>(received));
    return false;
}

// Opens the request on route (closing what an earlier route left open) and sends it; 0 or the
// error code of the failing call.
DWORD SendOnRoute(const DownloadRoute& route, const wchar_t* serverPath, int useTls, const wchar_t* headers,
                  DownloadRequest* handles)
{
    CloseDownloadRequest(handles);
    DWORD error = OpenDownloadRequest(kDirectUserAgent, route, serverPath, useTls, handles);
    if (error)
        return error;
    if (WinHttpSendRequest(handles->request, headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                           headers ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return 0;
    return GetLastError();
}

} // namespace

const wchar_t kDirectUserAgent[] = L"WinHTTP tarvolin Client Launcher";

const BodyReadTexts kDirectBodyTexts = {
    L"DownloadfileDirect: Keine Daten vorhanden",
    L"Out of memory",
    L"Error %u in WinHttpReadData.\n",
    L"DownloadfileDirect: Antwort unvollst\u00e4ndig, %llu von %llu Bytes erhalten",
    L"DownloadfileDirect: Datei konnte nicht geschrieben werden",
    L"DownloadfileDirect: Antwort gr\u00f6\u00dfer als %llu Bytes, abgebrochen",
    L"DownloadfileDirect: weniger als %llu Bytes in %llu s erhalten, Download abgebrochen",
    L"DownloadfileDirect: zu wenig Speicherplatz im Cache-Ordner, %llu Bytes frei nach %llu Bytes, Download abgebrochen",
};

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

int ReadBodyToFile(HINTERNET request, HANDLE file, const BodyReadTexts& texts, const wchar_t* chunkServerPath,
                   BodyOptions* options)
{
    ULONGLONG announced = 0;
    bool hasLength = QueryContentLength(request, &announced);
    uint64_t limit = options->byteLimit;
    if (AnnouncedLengthOverLimit(hasLength, announced, limit)) {
        LogPrintf(texts.tooLarge, static_cast<unsigned long long>(limit));
        return kBodyStopped;
    }
    LowSpeedWatch watch;
    StartLowSpeedWatch(&watch, GetTickCount64(), 0);
    uint64_t received = 0;
    uint64_t nextRoomCheck = kRoomCheckIntervalBytes;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            ReportReadFailure(GetLastError(), texts.noData, texts, &watch, received);
            return kBodyFailed;
        }
        if (available == 0)
            break;
        char* buffer = static_cast<char*>(calloc(size_t(available) + 1, 1));
        if (!buffer) {
            LogLine(texts.outOfMemory);
            return kBodyFailed;
        }
        if (chunkServerPath)
            LogPrintf(L"from https://%s/%s loading %d bytes", launcherState.downloadHost, chunkServerPath,
                      static_cast<int>(available));
        DWORD read = 0;
        int result = kBodyWhole;
        if (!WinHttpReadData(request, buffer, available, &read)) {
            ReportReadFailure(GetLastError(), texts.readFailed, texts, &watch, received);
            read = 0;
            result = kBodyFailed;
        }
        // Only what fits under the limit is written; a body that grows past it stops there.
        DWORD fits = static_cast<DWORD>(BytesWithinLimit(received, read, limit));
        if (result == kBodyWhole && fits > 0 && !WriteBodyChunk(file, buffer, fits, texts.writeFailed))
            result = kBodyFailed; // a full disk must not pass for a whole file: the pack would run truncated
        if (result == kBodyWhole && fits > 0 && options->sha && !options->shaStatus)
            options->shaStatus = AddSha256(options->sha, buffer, fits);
        free(buffer);
        if (result != kBodyWhole)
            return result;
        received += fits;
        if (fits < read) {
            LogPrintf(texts.tooLarge, static_cast<unsigned long long>(limit));
            return kBodyStopped;
        }
        if (read == 0)
            break;
        if (TransferTooSlow(&watch, GetTickCount64(), received)) {
            LogTooSlow(texts);
            return kBodyFailed;
        }
        if (options->roomFolder && received >= nextRoomCheck) {
            nextRoomCheck = received + kRoomCheckIntervalBytes;
            if (!RoomLeft(options->roomFolder, received, texts))
                return kBodyStopped;
        }
    }
    if (!BodyIsWhole(hasLength, announced, received)) {
        LogPrintf(texts.incomplete, received, announced);
        return kBodyFailed;
    }
    return kBodyWhole;
}

DWORD ExchangeDownloadRequest(const wchar_t* serverPath, int useTls, const wchar_t* headers, DownloadRequest* handles)
{
    DWORD error = 0;
    bool sent = false;
    for (int attempt = 0; attempt < kAttempts && !sent; ++attempt) {
        // WinHTTP uses only the first proxy of a list it is given and does not fail over ("AutoProxy
        // Issues in WinHTTP", Microsoft Learn): the entries of a script's list are tried here, in
        // order, within the attempt.
        RoutePlan plan;
        PlanUserDownloadRoutes(attempt, useTls, &plan);
        for (int route = 0; route < plan.count && !sent; ++route) {
            error = SendOnRoute(plan.routes[route], serverPath, useTls, headers, handles);
            NoteRouteOutcome(plan, route, error);
            sent = !error;
        }
    }
    if (sent && !WinHttpReceiveResponse(handles->request, nullptr))
        error = GetLastError();
    return error;
}

DWORD QueryStatusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

void QueryAnswerValidator(HINTERNET request, wchar_t* validator)
{
    wchar_t etag[kHeaderTextCapacity];
    wchar_t lastModified[kHeaderTextCapacity];
    HeaderText etagText = QueryHeaderText(request, L"ETag", etag, kHeaderTextCapacity);
    QueryHeaderText(request, L"Last-Modified", lastModified, kHeaderTextCapacity);
    validator[0] = L'\0';
    if (etagText != HeaderText::Unreadable)
        ChooseValidator(etag, lastModified, validator, kValidatorCapacity);
}

bool QueryHeaderValue(HINTERNET request, const wchar_t* name, wchar_t* text, DWORD capacity)
{
    return QueryHeaderText(request, name, text, capacity) == HeaderText::Present;
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

int DownloadfileDirect(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, bool showDialog,
                       uint64_t byteLimit)
{
    LogPrintf(L"DownloadfileDirect https://%s%s to %s", launcherState.downloadHost, serverPath, targetFile);

    HANDLE file = CreateFileW(targetFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        wchar_t text[kMessageCapacity];
        BoundedFormat(text, kMessageCapacity, L"Could not create destination file \"%s\"", targetFile);
        LogLine(text);
        ShowWarning(text);
        return 0;
    }

    DownloadRequest handles = {};
    int result = 0;
    DWORD status = 0;
    BodyOptions options = {byteLimit, nullptr, nullptr, 0};
    DWORD error = ExchangeDownloadRequest(serverPath, useTls, nullptr, &handles);
    if (error) {
        LogSystemError(error, L"Kein Netzwerkzugriff");
        goto quit;
    }

    status = QueryStatusCode(handles.request);
    switch (ClassifyDirectStatus(status)) {
    case DirectStatus::ProxyLogin:
        // The proxy's page is no file of ours: 0 sends the caller to the fallback, which logs in.
        ReportProxyLogin();
        break;
    case DirectStatus::HttpError:
        ReportHttpStatus(status, showDialog);
        break;
    case DirectStatus::Body:
        result = ReadBodyToFile(handles.request, file, kDirectBodyTexts, nullptr, &options) == kBodyWhole;
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
        ShowWarning(text);
}

void ReportProxyLogin()
{
    LogLine(L"DownloadfileDirect 407: The proxy requires authentication.");
}
