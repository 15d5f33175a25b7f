#include "net/authdownload.h"

#include <windows.h>
#include <winhttp.h>

#include "base/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/auth_rules.h"
#include "net/download.h"
#include "net/pack_download.h"
#include "net/proxy_script.h"
#include "net/request.h"

static_assert(kAuthSchemeBasic == WINHTTP_AUTH_SCHEME_BASIC, "scheme bits");
static_assert(kAuthSchemeNtlm == WINHTTP_AUTH_SCHEME_NTLM, "scheme bits");
static_assert(kAuthSchemePassport == WINHTTP_AUTH_SCHEME_PASSPORT, "scheme bits");
static_assert(kAuthSchemeDigest == WINHTTP_AUTH_SCHEME_DIGEST, "scheme bits");
static_assert(kAuthSchemeNegotiate == WINHTTP_AUTH_SCHEME_NEGOTIATE, "scheme bits");

namespace {

enum : int { kMessageCapacity = 4096 };

const wchar_t kUserAgent[] = L"tarvolin Windows Launcher/1.0";
const wchar_t kErrorLine[] = L"DownloadWithAuthentication results=0: Error has occurred.\n";

const BodyReadTexts kAuthBodyTexts = {
    L"DownloadWithAuthentication 200: Keine Daten vorhanden",
    L"DownloadWithAuthentication 200: Out of memory",
    L"DownloadWithAuthentication 200: Error in WinHttpReadData",
    L"DownloadWithAuthentication 200: Antwort unvollst\u00e4ndig, %llu von %llu Bytes erhalten",
    L"DownloadWithAuthentication 200: Datei konnte nicht geschrieben werden",
    L"DownloadWithAuthentication 200: Antwort gr\u00f6\u00dfer als %llu Bytes, abgebrochen",
    L"DownloadWithAuthentication 200: weniger als %llu Bytes in %llu s erhalten, Download abgebrochen",
    L"DownloadWithAuthentication 200: zu wenig Speicherplatz, %llu Bytes frei nach %llu Bytes, Download abgebrochen",
};

void LogStep(AuthLog log, const AuthExchangeState& state, DWORD lastError)
{
    wchar_t text[kMessageCapacity];
    switch (log) {
    case AuthLog::None:
        break;
    case AuthLog::ErrorLine:
        LogSystemError(lastError, kErrorLine);
        break;
    case AuthLog::ProxyAuthLine:
        LogLine(L"DownloadWithAuthentication 407: The proxy requires authentication.  Sending credentials...\n");
        break;
    case AuthLog::OtherStatusLine:
        BoundedFormat(text, kMessageCapacity, L"DownloadWithAuthentication default: error. HTTP Status code %d returned.\n",
                      static_cast<int>(state.status));
        LogLine(text);
        break;
    case AuthLog::Repeated401Line:
        LogLine(L"DownloadWithAuthentication 401: The server refused the request twice in a row. Giving up.");
        break;
    case AuthLog::PassLimitLine:
        BoundedFormat(text, kMessageCapacity,
                      L"DownloadWithAuthentication: No usable answer after %d requests (last status %d). Giving up.",
                      state.passes, static_cast<int>(state.previousStatus));
        LogLine(text);
        break;
    }
}

// The bounds of a runtime pack answer (null for any other download); result says why it was not read.
struct PackBounds {
    uint64_t expectedSize;
    PackRoom* room;
    int result;
};

// Sets options to the pack's bounds for this 200 answer; false, with bounds->result, when the answer
// is refused before a byte is written.
bool BoundPackBody(HINTERNET request, PackBounds* bounds, BodyOptions* options)
{
    ULONGLONG announced = 0;
    bool announcedKnown = QueryContentLength(request, &announced);
    PackLimit limit;
    int refusal = BoundPackAnswer(L"DownloadWithAuthentication", bounds->expectedSize, announcedKnown, announced, 0,
                                  bounds->room, &limit);
    if (refusal) {
        // Refused before a byte was written: nothing arrived that could be continued.
        bounds->result = refusal == kPackNoRoom ? kPackNoRoom : kPackFailed;
        return false;
    }
    if (limit.lengthKnown)
        options->byteLimit = limit.fullLength;
    else
        options->roomFolder = launcherState.cacheFolder;
    return true;
}

// The exchange loop driven by NextAuthStep; returns the result.
int Exchange(HINTERNET request, HANDLE file, const wchar_t* serverPath, uint64_t byteLimit, PackBounds* pack)
{
    AuthExchangeState state = AuthExchangeStart();
    AuthEvent event{AuthEventKind::Begin, 0};
    for (;;) {
        AuthStep step = NextAuthStep(state, event);
        LogStep(step.log, state, GetLastError());
        switch (step.action) {
        case AuthAction::Send: {
            if (AnswersWithWindowsLogon(state.scheme)) {
                // Without the low policy WinHTTP keeps the logon back from a proxy it does not
                // count as local, and the login fails with no user to ask.
                DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
                WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
            }
            if (state.scheme)
                WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, state.scheme, nullptr, nullptr, nullptr);
            BOOL ok = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
            if (ok)
                ok = WinHttpReceiveResponse(request, nullptr);
            if (ok)
                event = {AuthEventKind::Received, 0};
            else if (GetLastError() == ERROR_WINHTTP_RESEND_REQUEST)
                event = {AuthEventKind::SendFailedResend, 0};
            else
                event = {AuthEventKind::SendFailed, 0};
            break;
        }
        case AuthAction::QueryStatus: {
            DWORD status = 0;
            DWORD size = sizeof status;
            if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
                event = {AuthEventKind::Status, status};
            else
                event = {AuthEventKind::StatusQueryFailed, 0};
            break;
        }
        case AuthAction::QuerySchemes: {
            DWORD supported = 0, first = 0, target = 0;
            if (WinHttpQueryAuthSchemes(request, &supported, &first, &target))
                event = {AuthEventKind::SchemesQueried, supported};
            else
                event = {AuthEventKind::SchemeQueryFailed, 0};
            break;
        }
        case AuthAction::ReadBody: {
            BodyOptions options = {byteLimit, nullptr, nullptr, 0};
            if (pack && !BoundPackBody(request, pack, &options))
                return 0;
            return ReadBodyToFile(request, file, kAuthBodyTexts, serverPath, &options) == kBodyWhole;
        }
        case AuthAction::Leave:
            return 0;
        }
    }
}

int AuthenticatingDownload(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, uint64_t byteLimit,
                           PackBounds* pack)
{
    LogPrintf(L"DownloadWithAuthentication https://%s%s to %s", launcherState.downloadHost, serverPath, targetFile);

    HANDLE file = CreateFileW(targetFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        wchar_t text[kMessageCapacity];
        BoundedFormat(text, kMessageCapacity, L"Could not create destination file \"%s\"", targetFile);
        LogLine(text);
        return 0;
    }

    // The same proxy and protocols as the plain download's first attempt: a proxy that asked for a
    // login is only met on that route.
    DownloadRequest handles = {};
    int result = 0;
    RoutePlan plan;
    PlanUserDownloadRoutes(0, useTls, &plan);
    DWORD error = OpenDownloadRequest(kUserAgent, plan.routes[0], serverPath, useTls, &handles);
    if (error) {
        LogSystemError(error, kErrorLine);
        goto quit;
    }
    result = Exchange(handles.request, file, serverPath, byteLimit, pack);

quit:
    CloseDownloadRequest(&handles);
    if (!CloseHandle(file)) {
        LogSystemError(GetLastError(), L"DownloadWithAuthentication CloseHandle: Could not close temp file");
        return 0;
    }
    return result;
}

} // namespace

int DownloadWithAuthentication(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, uint64_t byteLimit)
{
    return AuthenticatingDownload(serverPath, useTls, targetFile, byteLimit, nullptr);
}

int DownloadPackWithAuthentication(const wchar_t* serverPath, const wchar_t* targetFile, uint64_t expectedSize,
                                   PackRoom* room)
{
    *room = PackRoom{0, 0};
    PackBounds bounds = {expectedSize, room, kPackFailed};
    if (AuthenticatingDownload(serverPath, 1, targetFile, kNoByteLimit, &bounds))
        return kPackDownloaded;
    return bounds.result;
}
