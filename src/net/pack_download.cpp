#include "net/pack_download.h"

#include <windows.h>
#include <winhttp.h>

#include "base/files.h"
#include "base/state.h"
#include "layout/held_files.h"
#include "log/format.h"
#include "log/log.h"
#include "log/warnings.h"
#include "net/auth_rules.h"
#include "net/download.h"
#include "net/pack_digest.h"
#include "net/proxy_script.h"
#include "net/request.h"
#include "net/resume_rules.h"
#include "net/transfer_rules.h"

namespace {

enum : int {
    kMessageCapacity = 4096,
    kHeaderTextCapacity = 1024,
};

// A round that threw the partial file away and asks again, for the whole pack.
enum : int { kAskForWholePack = -1 };

// What one call of DownloadRuntimePack was asked, carried through its rounds.
struct PackJob {
    const wchar_t* serverPath;
    const wchar_t* packFile;
    uint64_t expectedSize;
    const wchar_t* refusedValidator;
    wchar_t* validatorOut;
    PackRoom* room;
    FileDigest* digest;
    wchar_t source[kResumeSourceCapacity];
};

// Everything DecidePackAnswer needs from the answer; validator receives its validator (or "").
void ReadAnswerFacts(HINTERNET request, PackAnswerFacts* facts, wchar_t* validator)
{
    *facts = PackAnswerFacts{};
    facts->status = QueryStatusCode(request);
    ULONGLONG length = 0;
    facts->hasContentLength = QueryContentLength(request, &length);
    facts->contentLength = length;
    wchar_t text[kHeaderTextCapacity];
    if (QueryHeaderValue(request, L"Content-Range", text, kHeaderTextCapacity))
        facts->hasContentRange = ParseContentRange(text, &facts->range);
    QueryAnswerValidator(request, validator);
    facts->validator = validator;
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
    DWORD total = 0;
    return ReadSmallFile(path, text, sizeof text, &total) && ParsePartialMeta(text, total, meta);
}

bool WriteMetaFile(const wchar_t* path, const PartialMeta& meta)
{
    char text[kPartialMetaTextCapacity];
    size_t size = FormatPartialMeta(meta, text, sizeof text);
    if (size == 0)
        return false;
    DWORD code = WriteWholeFile(path, text, static_cast<DWORD>(size));
    if (code)
        LogSystemError(code, path);
    return code == 0;
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
    ShowWarning(text);
}

// A whole pack in the partial file becomes the pack file; the caller learns the validator it came
// with.
int FinishPack(const PackJob& job, const wchar_t* validator)
{
    DeleteQuietly(launcherState.partialPackMetaFile);
    // A scanner may still be reading the pack it has just seen arrive.
    if (!MoveHeldFile(launcherState.partialPackFile, job.packFile, MOVEFILE_REPLACE_EXISTING))
        return kPackFailed;
    if (job.validatorOut)
        BoundedFormat(job.validatorOut, kValidatorCapacity, L"%s", validator ? validator : L"");
    return kPackDownloaded;
}

// Writes the answer's body into the partial file: the whole pack on a 200, the rest on a fitting
// 206. The metadata is stored before the first byte, so that a start that is ended mid-way leaves
// both behind. With digest given, the pack is hashed while it is written.
int ReceivePack(HINTERNET request, PackAnswer answer, const PackRequestPlan& plan, const PackAnswerFacts& facts,
                uint64_t partialBytes, const PackJob& job)
{
    uint64_t announced = 0;
    bool announcedKnown = AnnouncedFullLength(answer, facts, &announced);
    PackLimit limit;
    int refusal = BoundPackAnswer(L"DownloadfileDirect", job.expectedSize, announcedKnown, announced, partialBytes,
                                  job.room, &limit);
    if (refusal)
        return refusal;
    uint64_t fullLength = limit.fullLength;
    bool lengthKnown = limit.lengthKnown;
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
        PartialMeta kept = {};
        BoundedFormat(kept.source, kResumeSourceCapacity, L"%s", job.source);
        BoundedFormat(kept.validator, kValidatorCapacity, L"%s", facts.validator);
        kept.fullLength = fullLength;
        resumable = lengthKnown && kept.validator[0] && WriteMetaFile(launcherState.partialPackMetaFile, kept);
        if (!resumable)
            DeleteQuietly(launcherState.partialPackMetaFile);
    }

    DigestFollower follower = {};
    if (job.digest)
        StartDigestFollower(launcherState.partialPackFile, &follower);
    // A pack of known length is bounded by it (an appended rest by what is missing); one of unknown
    // length by the volume's room.
    uint64_t start = answer == PackAnswer::Append ? plan.offset : 0;
    BodyOptions options = {lengthKnown ? fullLength - start : kNoByteLimit,
                           lengthKnown ? nullptr : launcherState.cacheFolder, nullptr, 0};
    int body = ReadBodyToFile(request, file, kDirectBodyTexts, nullptr, &options);
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    if (!CloseHandle(file)) {
        LogLine(L"Could not close temp file");
        body = kBodyFailed;
    }
    uint64_t received = static_cast<uint64_t>(size.QuadPart);
    bool complete = body == kBodyWhole && (!lengthKnown || received == fullLength);
    if (job.digest)
        FinishDigestFollower(&follower, complete, job.digest);
    if (complete)
        // A pack continued from a partial file holds the bytes of two answers: it is given no
        // validator, so that a verdict on it is not kept against the server's pack.
        return FinishPack(job, answer == PackAnswer::Append ? nullptr : facts.validator);
    if (body == kBodyStopped) {
        // Too large or no room: nothing of it is worth keeping, and the line says why.
        DeleteQuietly(launcherState.partialPackFile);
        DeleteQuietly(launcherState.partialPackMetaFile);
        return kPackBroken;
    }
    if (body == kBodyWhole) {
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
// for the whole (only if changed, when the caller refused the pack it has). kAskForWholePack when
// the answer did not fit the partial file.
int DownloadPackRound(const PackJob& job)
{
    LauncherState& s = launcherState;
    PartialMeta meta = {};
    uint64_t partialBytes = FileSizeOrZero(s.partialPackFile);
    bool metaValid = ReadMetaFile(s.partialPackMetaFile, &meta);
    PackRequestPlan plan = PlanPackRequest(partialBytes, metaValid, meta, job.source);
    wchar_t headers[kRangeHeadersCapacity];
    if (plan.resume && !FormatRangeHeaders(headers, kRangeHeadersCapacity, plan.offset, meta.validator))
        plan = PackRequestPlan{false, 0, PartialVerdict::NoValidator};
    if (plan.verdict != PartialVerdict::Absent && !plan.resume) {
        DiscardPartialPack(PartialVerdictText(plan.verdict));
        partialBytes = 0;
    }
    // A resumed request keeps to Range and If-Range; a whole one asks only for a pack other than
    // the refused one.
    bool conditional = !plan.resume && job.refusedValidator &&
                       FormatConditionalHeaders(headers, kRangeHeadersCapacity, job.refusedValidator);

    DownloadRequest handles = {};
    int result = kPackFailed;
    PackAnswerFacts facts;
    wchar_t validator[kValidatorCapacity];
    PackAnswer answer;
    DWORD error = ExchangeDownloadRequest(job.serverPath, 1, plan.resume || conditional ? headers : nullptr, &handles);
    if (error) {
        LogSystemError(error, L"Kein Netzwerkzugriff");
        goto quit;
    }
    ReadAnswerFacts(handles.request, &facts, validator);
    if (conditional && facts.status == 304) {
        LogLine(L"DownloadfileDirect: Runtime-Paket auf dem Server unver\u00e4ndert (304), es wird nicht erneut geladen");
        result = kPackNotModified;
        goto quit;
    }
    answer = DecidePackAnswer(plan, meta, facts);
    if (answer == PackAnswer::Other) {
        switch (ClassifyDirectStatus(facts.status)) {
        case DirectStatus::ProxyLogin:
            ReportProxyLogin();
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
        result = ReceivePack(handles.request, answer, plan, facts, partialBytes, job);
        break;
    case PackAnswer::Other:
        break;
    }

quit:
    CloseDownloadRequest(&handles);
    return result;
}

} // namespace

int BoundPackAnswer(const wchar_t* caller, uint64_t expectedSize, bool announcedKnown, uint64_t announced,
                    uint64_t partialBytes, PackRoom* room, PackLimit* limit)
{
    *limit = ChoosePackLimit(expectedSize, announcedKnown, announced);
    if (limit->refuse) {
        LogPrintf(L"%s: Server k\u00fcndigt %llu Bytes an, die Versionsdatei nennt %llu, Runtime-Paket abgelehnt",
                  caller, static_cast<unsigned long long>(announced), static_cast<unsigned long long>(expectedSize));
        return kPackBroken;
    }
    if (limit->lengthKnown && !RoomForPack(limit->fullLength, partialBytes, room))
        return kPackNoRoom;
    return 0;
}

void DiscardPartialPack(const wchar_t* reason)
{
    LogPrintf(L"DownloadfileDirect: Teildownload verworfen: %s", reason);
    DeleteQuietly(launcherState.partialPackFile);
    DeleteQuietly(launcherState.partialPackMetaFile);
}

int DownloadRuntimePack(const wchar_t* serverPath, const wchar_t* packFile, uint64_t expectedSize,
                        const wchar_t* refusedValidator, wchar_t* validatorOut, PackRoom* room, FileDigest* digest)
{
    LauncherState& s = launcherState;
    if (digest)
        *digest = FileDigest{};
    if (validatorOut)
        validatorOut[0] = L'\0';
    LogPrintf(L"DownloadfileDirect https://%s%s to %s", s.downloadHost, serverPath, s.partialPackFile);
    *room = PackRoom{0, 0};
    PackJob job = {serverPath, packFile, expectedSize, refusedValidator && *refusedValidator ? refusedValidator : nullptr,
                   validatorOut, room, digest, {}};
    BoundedFormat(job.source, kResumeSourceCapacity, L"%s%s", s.downloadHost, serverPath);
    int result = DownloadPackRound(job);
    // The partial file is gone by now, so the second round asks for the whole pack.
    if (result == kAskForWholePack)
        result = DownloadPackRound(job);
    return result == kAskForWholePack ? kPackFailed : result;
}
