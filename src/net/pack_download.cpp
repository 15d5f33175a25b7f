#include "net/pack_download.h"

#include <windows.h>
#include <winhttp.h>

#include "app/files.h"
#include "app/state.h"
#include "log/format.h"
#include "log/log.h"
#include "net/auth_rules.h"
#include "net/download.h"
#include "net/pack_digest.h"
#include "net/proxy_script.h"
#include "net/request.h"
#include "net/resume_rules.h"

namespace {

enum : int {
    kMessageCapacity = 4096,
    kAttempts = 2,
    kHeaderTextCapacity = 1024,
};

// A round that threw the partial file away and asks again, for the whole pack.
enum : int { kAskForWholePack = -1 };

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

// Everything DecidePackAnswer needs from the answer; validator receives its validator (or "").
void ReadAnswerFacts(HINTERNET request, PackAnswerFacts* facts, wchar_t* validator)
{
    *facts = PackAnswerFacts{};
    DWORD status = 0;
    DWORD size = sizeof status;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &size, WINHTTP_NO_HEADER_INDEX))
        facts->status = status;
    ULONGLONG length = 0;
    facts->hasContentLength = QueryContentLength(request, &length);
    facts->contentLength = length;
    wchar_t text[kHeaderTextCapacity];
    if (QueryHeaderText(request, L"Content-Range", text, kHeaderTextCapacity) == HeaderText::Present)
        facts->hasContentRange = ParseContentRange(text, &facts->range);
    wchar_t etag[kHeaderTextCapacity];
    wchar_t lastModified[kHeaderTextCapacity];
    HeaderText etagText = QueryHeaderText(request, L"ETag", etag, kHeaderTextCapacity);
    QueryHeaderText(request, L"Last-Modified", lastModified, kHeaderTextCapacity);
    validator[0] = L'\0';
    if (etagText != HeaderText::Unreadable)
        ChooseValidator(etag, lastModified, validator, kValidatorCapacity);
    facts->validator = validator;
}

// Opens and sends the request, with headers when given (two attempts, as DownloadfileDirect), and
// receives the answer; 0 or the error code of the failing call.
DWORD ExchangePackRequest(const wchar_t* serverPath, const wchar_t* headers, DownloadRequest* handles)
{
    DWORD error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        CloseDownloadRequest(handles); // what a failed first attempt left open
        error = OpenDownloadRequest(kDirectUserAgent, UserDownloadRoute(attempt, 1), serverPath, 1, handles);
        if (error)
            continue;
        if (WinHttpSendRequest(handles->request, headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                               headers ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
            break;
        error = GetLastError();
    }
    if (!error && !WinHttpReceiveResponse(handles->request, nullptr))
        error = GetLastError();
    return error;
}

void DeleteQuietly(const wchar_t* path)
{
    if (!DeleteFileW(path)) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            LogSystemError(code, path);
    }
}

// A file longer than any stored text is not one.
bool ReadMetaFile(const wchar_t* path, PartialMeta* meta)
{
    char text[kPartialMetaTextCapacity];
    FileStart start;
    DWORD total = ReadFileStart(path, text, sizeof text, &start);
    return start.opened && start.error == 0 && start.size == total && total < sizeof text &&
           ParsePartialMeta(text, total, meta);
}

bool WriteMetaFile(const wchar_t* path, const PartialMeta& meta)
{
    char text[kPartialMetaTextCapacity];
    size_t size = FormatPartialMeta(meta, text, sizeof text);
    if (size == 0)
        return false;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogSystemError(GetLastError(), path);
        return false;
    }
    DWORD written = 0;
    DWORD code = 0;
    if (!WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr))
        code = GetLastError();
    else if (written != size)
        code = ERROR_DISK_FULL; // a short write is how a full disk shows under some file systems
    if (!CloseHandle(file) && !code)
        code = GetLastError();
    if (code) {
        LogSystemError(code, path);
        DeleteQuietly(path);
        return false;
    }
    return true;
}

// True when the cache folder's volume has room for the pack and the runtime unpacked from it; a
// volume whose free room cannot be read is not held against the download.
bool RoomForPack(uint64_t fullLength, uint64_t partialBytes, PackRoom* room)
{
    ULARGE_INTEGER freeToUser = {};
    if (!GetDiskFreeSpaceExW(launcherState.cacheFolder, &freeToUser, nullptr, nullptr)) {
        LogSystemError(GetLastError(), launcherState.cacheFolder);
        return true;
    }
    uint64_t freeBytes = freeToUser.QuadPart;
    if (EnoughRoomForPack(freeBytes, partialBytes, fullLength))
        return true;
    room->neededBytes = RoomToFreeForPack(partialBytes, fullLength);
    room->freeBytes = freeBytes;
    LogPrintf(L"DownloadfileDirect: zu wenig Speicherplatz im Cache-Ordner, %llu Bytes ben\u00f6tigt, %llu Bytes frei, "
              L"Runtime-Paket wird nicht geladen",
              static_cast<unsigned long long>(room->neededBytes), static_cast<unsigned long long>(freeBytes));
    return false;
}

// The partial file opened for the answer: emptied for a whole pack, at its end for the rest. Others
// may read it meanwhile (the digest follower).
HANDLE OpenPartialFile(PackAnswer answer, uint64_t offset)
{
    const wchar_t* path = launcherState.partialPackFile;
    if (answer != PackAnswer::Append)
        return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    LARGE_INTEGER end = {};
    LARGE_INTEGER zero = {};
    // The file must still end where the request said it does.
    if (!SetFilePointerEx(file, zero, &end, FILE_END) || static_cast<uint64_t>(end.QuadPart) != offset) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void ReportUncreatablePartial()
{
    wchar_t text[kMessageCapacity];
    BoundedFormat(text, kMessageCapacity, L"Could not create destination file \"%s\"", launcherState.partialPackFile);
    LogLine(text);
    ShowDownloadWarning(text);
}

// A whole pack in the partial file becomes the pack file.
int FinishPack(const wchar_t* packFile)
{
    DeleteQuietly(launcherState.partialPackMetaFile);
    if (!MoveFileExW(launcherState.partialPackFile, packFile, MOVEFILE_REPLACE_EXISTING)) {
        LogSystemError(GetLastError(), packFile);
        return kPackFailed;
    }
    return kPackDownloaded;
}

// Writes the answer's body into the partial file: the whole pack on a 200, the rest on a fitting
// 206. The metadata is stored before the first byte, so that a start that is ended mid-way leaves
// both behind. With digest given, the pack is hashed while it is written.
int ReceivePack(HINTERNET request, PackAnswer answer, const PackRequestPlan& plan, const PackAnswerFacts& facts,
                uint64_t partialBytes, const wchar_t* source, const wchar_t* packFile, PackRoom* room,
                FileDigest* digest)
{
    uint64_t fullLength = 0;
    bool lengthKnown = AnnouncedFullLength(answer, facts, &fullLength);
    if (lengthKnown && !RoomForPack(fullLength, partialBytes, room))
        return kPackNoRoom;
    if (answer == PackAnswer::Append)
        LogPrintf(L"DownloadfileDirect: Runtime-Paket wird ab Byte %llu von %llu fortgesetzt",
                  static_cast<unsigned long long>(plan.offset), static_cast<unsigned long long>(fullLength));
    else if (plan.resume)
        DiscardPartialPack(L"der Server schickt das ganze Paket");

    HANDLE file = OpenPartialFile(answer, plan.offset);
    if (file == INVALID_HANDLE_VALUE) {
        ReportUncreatablePartial();
        return kPackFailed;
    }
    bool resumable = answer == PackAnswer::Append;
    if (answer == PackAnswer::WriteWhole) {
        PartialMeta meta = {};
        BoundedFormat(meta.source, kResumeSourceCapacity, L"%s", source);
        BoundedFormat(meta.validator, kValidatorCapacity, L"%s", facts.validator);
        meta.fullLength = fullLength;
        resumable = lengthKnown && meta.validator[0] && WriteMetaFile(launcherState.partialPackMetaFile, meta);
        if (!resumable)
            DeleteQuietly(launcherState.partialPackMetaFile);
    }

    DigestFollower follower = {};
    if (digest)
        StartDigestFollower(launcherState.partialPackFile, &follower);
    int whole = ReadBodyToFile(request, file, kDirectBodyTexts, nullptr);
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    if (!CloseHandle(file)) {
        LogLine(L"Could not close temp file");
        whole = 0;
    }
    uint64_t received = static_cast<uint64_t>(size.QuadPart);
    bool complete = whole && (!lengthKnown || received == fullLength);
    if (digest)
        FinishDigestFollower(&follower, complete, digest);
    if (complete)
        return FinishPack(packFile);
    if (whole) {
        // The body matched its own length but not the pack's: nothing here can be continued.
        LogPrintf(L"DownloadfileDirect: Runtime-Paket hat %llu statt %llu Bytes",
                  static_cast<unsigned long long>(received), static_cast<unsigned long long>(fullLength));
        DiscardPartialPack(L"L\u00e4nge passt nicht");
        return kPackBroken;
    }
    if (!resumable) {
        DiscardPartialPack(L"ohne ETag, Last-Modified oder L\u00e4nge nicht fortsetzbar");
        return kPackFailed;
    }
    LogPrintf(L"DownloadfileDirect: Runtime-Paket abgebrochen, %llu von %llu Bytes bleiben f\u00fcr den n\u00e4chsten Start",
              static_cast<unsigned long long>(received), static_cast<unsigned long long>(fullLength));
    return kPackBroken;
}

// One request for the pack: for the rest of the partial file when it can be continued, otherwise
// for the whole. kAskForWholePack when the answer did not fit the partial file.
int DownloadPackRound(const wchar_t* serverPath, const wchar_t* source, const wchar_t* packFile, PackRoom* room,
                      FileDigest* digest)
{
    LauncherState& s = launcherState;
    PartialMeta meta = {};
    uint64_t partialBytes = FileSizeOrZero(s.partialPackFile);
    bool metaValid = ReadMetaFile(s.partialPackMetaFile, &meta);
    PackRequestPlan plan = PlanPackRequest(partialBytes, metaValid, meta, source);
    wchar_t headers[kRangeHeadersCapacity];
    if (plan.resume && !FormatRangeHeaders(headers, kRangeHeadersCapacity, plan.offset, meta.validator))
        plan = PackRequestPlan{false, 0, PartialVerdict::NoValidator};
    if (plan.verdict != PartialVerdict::Absent && !plan.resume) {
        DiscardPartialPack(PartialVerdictText(plan.verdict));
        partialBytes = 0;
    }

    DownloadRequest handles = {};
    int result = kPackFailed;
    PackAnswerFacts facts;
    wchar_t validator[kValidatorCapacity];
    PackAnswer answer;
    DWORD error = ExchangePackRequest(serverPath, plan.resume ? headers : nullptr, &handles);
    if (error) {
        LogSystemError(error, L"Kein Netzwerkzugriff");
        goto quit;
    }
    ReadAnswerFacts(handles.request, &facts, validator);
    answer = DecidePackAnswer(plan, meta, facts);
    if (answer == PackAnswer::Other) {
        switch (ClassifyDirectStatus(facts.status)) {
        case DirectStatus::ProxyLogin:
            LogLine(L"DownloadfileDirect 407: The proxy requires authentication.");
            goto quit;
        case DirectStatus::HttpError:
            ReportHttpStatus(facts.status, true);
            goto quit;
        case DirectStatus::Body:
            // Some other answer with a body: taken whole, as DownloadfileDirect takes it, but not
            // kept for continuing.
            answer = PackAnswer::WriteWhole;
            validator[0] = L'\0';
            break;
        }
    }
    switch (answer) {
    case PackAnswer::Refuse:
        LogPrintf(L"DownloadfileDirect: Teilantwort (Status %u) auf eine Anfrage ohne Range", facts.status);
        break;
    case PackAnswer::RequestWhole: {
        wchar_t reason[kMessageCapacity];
        BoundedFormat(reason, kMessageCapacity, L"Antwort passt nicht zum Teildownload (Status %u)", facts.status);
        DiscardPartialPack(reason);
        result = kAskForWholePack;
        break;
    }
    case PackAnswer::WriteWhole:
    case PackAnswer::Append:
        result = ReceivePack(handles.request, answer, plan, facts, partialBytes, source, packFile, room, digest);
        break;
    case PackAnswer::Other:
        break;
    }

quit:
    CloseDownloadRequest(&handles);
    return result;
}

} // namespace

void DiscardPartialPack(const wchar_t* reason)
{
    LogPrintf(L"DownloadfileDirect: Teildownload verworfen: %s", reason);
    DeleteQuietly(launcherState.partialPackFile);
    DeleteQuietly(launcherState.partialPackMetaFile);
}

int DownloadRuntimePack(const wchar_t* serverPath, const wchar_t* packFile, PackRoom* room, FileDigest* digest)
{
    LauncherState& s = launcherState;
    if (digest)
        *digest = FileDigest{};
    LogPrintf(L"DownloadfileDirect https://%s%s to %s", s.downloadHost, serverPath, s.partialPackFile);
    *room = PackRoom{0, 0};
    wchar_t source[kResumeSourceCapacity];
    BoundedFormat(source, kResumeSourceCapacity, L"%s%s", s.downloadHost, serverPath);
    int result = DownloadPackRound(serverPath, source, packFile, room, digest);
    // The partial file is gone by now, so the second round asks for the whole pack.
    if (result == kAskForWholePack)
        result = DownloadPackRound(serverPath, source, packFile, room, digest);
    return result == kAskForWholePack ? kPackFailed : result;
}
