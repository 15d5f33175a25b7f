// The decisions of a resumable download that need no platform, so unit tests and the native fuzz
// target call them directly: the 64-bit length headers (Content-Length, Content-Range), the
// validator that ties a partial file to one version of the file on the server, the small text
// kept beside the partial file, what to ask the server for, what to do with its answer, and
// whether the cache folder's volume has room for a runtime pack.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : size_t {
    kValidatorCapacity = 256,  // an ETag or an HTTP date, terminator included
    kResumeSourceCapacity = 2048,
    kPartialMetaTextCapacity = 2600, // the stored text: first line, three keys and their values
    kRangeHeadersCapacity = 400,
};

// The unpacked runtime takes about twice the pack; the pack stays beside it.
enum : uint64_t { kPackRoomFactor = 3 };

// "first-last/complete" of a Content-Range; complete is unknown when the server sent "*".
struct ContentRange {
    uint64_t first;
    uint64_t last;
    uint64_t complete;
    bool completeKnown;
};

// What is kept beside a partial file: where its bytes came from, the validator the server sent
// with them (sent back in If-Range), and the full length of the file.
struct PartialMeta {
    wchar_t source[kResumeSourceCapacity];
    wchar_t validator[kValidatorCapacity];
    uint64_t fullLength;
};

// A Content-Length value: decimal digits between optional blanks, up to 2^64 - 1. A list of equal
// values (duplicate headers joined by the platform) counts as that value; anything else is refused.
bool ParseContentLength(const wchar_t* text, uint64_t* length);

// A Content-Range value "bytes first-last/complete" (complete may be "*"); refused when it is not
// a satisfied byte range (first > last, or last not below a known complete length).
bool ParseContentRange(const wchar_t* text, ContentRange* range);

// The validator for If-Range: a strong ETag, else Last-Modified when the answer has no ETag at all.
// A weak ETag gives none (If-Range must not carry it, and a date may not stand in for it), and
// so does a value that is empty, too long, or not printable ASCII. Either header may be null.
bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t* validator, size_t capacity);

// The stored text of the metadata, 8-bit ASCII with CRLF line ends; its length in bytes, or 0 when
// a value cannot be stored (not printable ASCII, empty, or the buffer too small).
size_t FormatPartialMeta(const PartialMeta& meta, char* text, size_t capacity);
// Reads that text back; false for anything it would not have written.
bool ParsePartialMeta(const char* text, size_t size, PartialMeta* meta);

// Why a partial file is not continued.
enum class PartialVerdict {
    Absent,          // no partial file, or an empty one
    Usable,          // continue it
    NoMeta,          // its metadata is missing or unreadable
    OtherSource,     // it came from another host or path
    NoValidator,     // nothing to send in If-Range
    NotShorter,      // it is as long as the full file or longer
};

// What to ask the server for.
struct PackRequestPlan {
    bool resume;       // Range: bytes=offset- with If-Range; otherwise a plain request
    uint64_t offset;   // bytes already in the partial file
    PartialVerdict verdict;
};

PackRequestPlan PlanPackRequest(uint64_t partialSize, bool metaValid, const PartialMeta& meta, const wchar_t* source);

// The log text for a partial file that is thrown away (verdicts other than Absent and Usable).
const wchar_t* PartialVerdictText(PartialVerdict verdict);

// "Range: bytes=N-\r\nIf-Range: <validator>\r\n"; false when it does not fit.
bool FormatRangeHeaders(wchar_t* headers, size_t capacity, uint64_t offset, const wchar_t* validator);

// What the answer's headers said.
struct PackAnswerFacts {
    unsigned status;
    bool hasContentRange;
    ContentRange range;
    bool hasContentLength;
    uint64_t contentLength;
    const wchar_t* validator; // the answer's own validator (ChooseValidator), empty or null when none
};

enum class PackAnswer {
    WriteWhole,   // 200: the whole file follows; the partial file starts over from byte 0
    Append,       // a 206 that continues the partial file exactly
    RequestWhole, // an answer that does not fit the partial file: throw it away, ask for the whole
    Refuse,       // a partial answer to a plain request: nothing usable
    Other,        // any other status: handled as the download handles it without a partial file
};

// For a resumed request the 206 must continue at the plan's offset and end at the full length kept
// in meta, and carry no validator other than meta's.
PackAnswer DecidePackAnswer(const PackRequestPlan& plan, const PartialMeta& meta, const PackAnswerFacts& facts);

// The full length the answer announces for the file: Content-Length of a 200, the complete length
// of an appended 206; false when the server announced none.
bool AnnouncedFullLength(PackAnswer answer, const PackAnswerFacts& facts, uint64_t* fullLength);

// Room a pack of fullLength bytes needs on the cache folder's volume: the pack and the runtime
// unpacked from it. Saturates instead of wrapping.
uint64_t RoomNeededForPack(uint64_t fullLength);
// The room that must be free for the download to go on: that room less the partial file's bytes,
// which are either kept or overwritten.
uint64_t RoomToFreeForPack(uint64_t partialBytes, uint64_t fullLength);
bool EnoughRoomForPack(uint64_t freeBytes, uint64_t partialBytes, uint64_t fullLength);

// The German text of the warning box for a disk without that room, in whole MB rounded up.
void FormatDiskFullText(wchar_t* text, size_t capacity, uint64_t neededBytes, uint64_t freeBytes);
