// Standard headers only, so that these rules also build natively for fuzzing.
#include "net/resume_rules.h"

#include <string.h>
#include <wchar.h>

#include "log/format.h"

namespace {

const char kMetaFirstLine[] = "tarvolin partial download 1";
const char kSourceKey[] = "source=";
const char kValidatorKey[] = "validator=";
const char kLengthKey[] = "length=";

const uint64_t kMegabyte = 1024 * 1024;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool IsPrintableAscii(unsigned c)
{
    return c >= 0x20 && c <= 0x7E;
}

const wchar_t* SkipBlanks(const wchar_t* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// Decimal digits at p into value, refusing an empty run and anything beyond 2^64 - 1; p is moved
// behind the digits.
bool ReadNumber(const wchar_t*& p, uint64_t* value)
{
    if (!IsDigit(*p))
        return false;
    uint64_t result = 0;
    for (; IsDigit(*p); ++p) {
        uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (result > (UINT64_MAX - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        wchar_t c = *text;
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != *prefix)
            return false;
    }
    return true;
}

// Copies a header value without its surrounding blanks; false when it is empty, does not fit, or
// holds anything but printable ASCII (it has to go into the stored text and back into a header).
bool CopyTrimmedValue(const wchar_t* value, wchar_t* out, size_t capacity)
{
    const wchar_t* start = SkipBlanks(value);
    size_t length = wcslen(start);
    while (length > 0 && IsBlank(start[length - 1]))
        --length;
    if (length == 0 || length >= capacity)
        return false;
    // Checked whole before anything is copied: a refused value leaves the field as it was.
    for (size_t i = 0; i < length; ++i)
        if (!IsPrintableAscii(static_cast<unsigned>(start[i])))
            return false;
    for (size_t i = 0; i < length; ++i)
        out[i] = start[i];
    out[length] = L'\0';
    return true;
}

// Appends the 8-bit copy of a printable-ASCII wide value; false when it is empty, not printable
// ASCII, or does not fit.
bool AppendAscii(char* text, size_t capacity, size_t* used, const wchar_t* value)
{
    if (!*value)
        return false;
    for (; *value; ++value) {
        if (!IsPrintableAscii(static_cast<unsigned>(*value)) || *used + 1 >= capacity)
            return false;
        text[(*used)++] = static_cast<char>(*value);
    }
    return true;
}

bool AppendBytes(char* text, size_t capacity, size_t* used, const char* bytes)
{
    size_t length = strlen(bytes);
    if (*used + length >= capacity)
        return false;
    memcpy(text + *used, bytes, length);
    *used += length;
    return true;
}

// One line of the stored text, without its line end.
struct Line {
    const char* start;
    size_t length;
};

// The next line from [*p, end); false at the end. A line end is LF or CRLF; the last line needs none.
bool NextLine(const char** p, const char* end, Line* line)
{
    if (*p >= end)
        return false;
    const char* start = *p;
    const char* stop = static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
    const char* next = stop ? stop + 1 : end;
    if (!stop)
        stop = end;
    if (stop > start && stop[-1] == '\r')
        --stop;
    line->start = start;
    line->length = static_cast<size_t>(stop - start);
    *p = next;
    return true;
}

bool LineHasKey(const Line& line, const char* key)
{
    size_t keyLength = strlen(key);
    return line.length >= keyLength && memcmp(line.start, key, keyLength) == 0;
}

// The value behind key into a wide field: printable ASCII only, not empty, fitting.
bool ReadTextValue(const Line& line, const char* key, wchar_t* out, size_t capacity)
{
    size_t keyLength = strlen(key);
    size_t length = line.length - keyLength;
    if (length == 0 || length >= capacity)
        return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(line.start[keyLength + i]);
        if (!IsPrintableAscii(c))
            return false;
        out[i] = static_cast<wchar_t>(c);
    }
    out[length] = L'\0';
    return true;
}

bool ReadLengthValue(const Line& line, const char* key, uint64_t* value)
{
    size_t keyLength = strlen(key);
    size_t length = line.length - keyLength;
    wchar_t digits[24];
    if (length == 0 || length >= sizeof digits / sizeof digits[0])
        return false;
    for (size_t i = 0; i < length; ++i)
        digits[i] = static_cast<wchar_t>(static_cast<unsigned char>(line.start[keyLength + i]));
    digits[length] = L'\0';
    const wchar_t* p = digits;
    return ReadNumber(p, value) && *p == L'\0' && *value > 0;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return wcscmp(a, b) == 0;
}

// A 206 continues the partial file only when it starts at its end, runs to the end of the file
// the metadata describes, and its length (when given) is exactly that rest.
bool RangeContinuesPartial(const PackRequestPlan& plan, const PartialMeta& meta, const PackAnswerFacts& facts)
{
    const ContentRange& range = facts.range;
    if (!facts.hasContentRange || !range.completeKnown)
        return false;
    if (range.first != plan.offset || range.complete != meta.fullLength || range.last != meta.fullLength - 1)
        return false;
    if (facts.hasContentLength && facts.contentLength != meta.fullLength - plan.offset)
        return false;
    return !facts.validator || !*facts.validator || SameText(facts.validator, meta.validator);
}

} // namespace

bool ParseContentLength(const wchar_t* text, uint64_t* length)
{
    const wchar_t* p = SkipBlanks(text);
    uint64_t first = 0;
    if (!ReadNumber(p, &first))
        return false;
    for (p = SkipBlanks(p); *p == L','; p = SkipBlanks(p)) {
        uint64_t next = 0;
        p = SkipBlanks(p + 1);
        if (!ReadNumber(p, &next) || next != first)
            return false;
    }
    if (*p)
        return false;
    *length = first;
    return true;
}

bool ParseContentRange(const wchar_t* text, ContentRange* range)
{
    const wchar_t* p = SkipBlanks(text);
    if (!StartsWithNoCase(p, L"bytes"))
        return false;
    p += 5;
    if (!IsBlank(*p))
        return false;
    p = SkipBlanks(p);
    ContentRange parsed = {0, 0, 0, false};
    if (!ReadNumber(p, &parsed.first) || *p++ != L'-' || !ReadNumber(p, &parsed.last) || *p++ != L'/')
        return false;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ReadNumber(p, &parsed.complete))
            return false;
        parsed.completeKnown = true;
    }
    if (*SkipBlanks(p))
        return false;
    if (parsed.first > parsed.last || (parsed.completeKnown && parsed.last >= parsed.complete))
        return false;
    *range = parsed;
    return true;
}

bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t* validator, size_t capacity)
{
    if (capacity > 0)
        validator[0] = L'\0';
    if (etag && *SkipBlanks(etag)) {
        // Only a strong tag: a quoted string, without the W/ of a weak one.
        wchar_t tag[kValidatorCapacity];
        if (!CopyTrimmedValue(etag, tag, kValidatorCapacity))
            return false;
        size_t length = wcslen(tag);
        if (length < 2 || tag[0] != L'"' || tag[length - 1] != L'"')
            return false;
        return CopyTrimmedValue(tag, validator, capacity);
    }
    if (lastModified && *SkipBlanks(lastModified))
        return CopyTrimmedValue(lastModified, validator, capacity);
    return false;
}

size_t FormatPartialMeta(const PartialMeta& meta, char* text, size_t capacity)
{
    char length[24];
    size_t digits = 0;
    char reversed[24];
    uint64_t rest = meta.fullLength;
    do {
        reversed[digits++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest);
    for (size_t i = 0; i < digits; ++i)
        length[i] = reversed[digits - 1 - i];
    length[digits] = '\0';

    size_t used = 0;
    bool fits = meta.fullLength > 0 && AppendBytes(text, capacity, &used, kMetaFirstLine) &&
                AppendBytes(text, capacity, &used, "\r\n") && AppendBytes(text, capacity, &used, kSourceKey) &&
                AppendAscii(text, capacity, &used, meta.source) && AppendBytes(text, capacity, &used, "\r\n") &&
                AppendBytes(text, capacity, &used, kValidatorKey) &&
                AppendAscii(text, capacity, &used, meta.validator) && AppendBytes(text, capacity, &used, "\r\n") &&
                AppendBytes(text, capacity, &used, kLengthKey) && AppendBytes(text, capacity, &used, length) &&
                AppendBytes(text, capacity, &used, "\r\n");
    if (!fits)
        return 0;
    text[used] = '\0';
    return used;
}

bool ParsePartialMeta(const char* text, size_t size, PartialMeta* meta)
{
    const char* p = text;
    const char* end = text + size;
    Line line;
    if (!NextLine(&p, end, &line) || line.length != strlen(kMetaFirstLine) ||
        memcmp(line.start, kMetaFirstLine, line.length) != 0)
        return false;
    PartialMeta parsed = {};
    if (!NextLine(&p, end, &line) || !LineHasKey(line, kSourceKey) ||
        !ReadTextValue(line, kSourceKey, parsed.source, kResumeSourceCapacity))
        return false;
    if (!NextLine(&p, end, &line) || !LineHasKey(line, kValidatorKey) ||
        !ReadTextValue(line, kValidatorKey, parsed.validator, kValidatorCapacity))
        return false;
    if (!NextLine(&p, end, &line) || !LineHasKey(line, kLengthKey) ||
        !ReadLengthValue(line, kLengthKey, &parsed.fullLength))
        return false;
    // Nothing may follow: a text that was cut or grew is not one this program wrote.
    if (p != end)
        return false;
    *meta = parsed;
    return true;
}

PackRequestPlan PlanPackRequest(uint64_t partialSize, bool metaValid, const PartialMeta& meta, const wchar_t* source)
{
    PackRequestPlan plan = {false, 0, PartialVerdict::Absent};
    if (partialSize == 0)
        return plan;
    if (!metaValid)
        plan.verdict = PartialVerdict::NoMeta;
    else if (!SameText(meta.source, source))
        plan.verdict = PartialVerdict::OtherSource;
    else if (!meta.validator[0])
        plan.verdict = PartialVerdict::NoValidator;
    else if (partialSize >= meta.fullLength)
        plan.verdict = PartialVerdict::NotShorter;
    else {
        plan.verdict = PartialVerdict::Usable;
        plan.resume = true;
        plan.offset = partialSize;
    }
    return plan;
}

const wchar_t* PartialVerdictText(PartialVerdict verdict)
{
    switch (verdict) {
    case PartialVerdict::NoMeta:
        return L"keine lesbaren Angaben zum Teildownload";
    case PartialVerdict::OtherSource:
        return L"Teildownload stammt von einer anderen Adresse";
    case PartialVerdict::NoValidator:
        return L"Teildownload ohne ETag oder Last-Modified";
    case PartialVerdict::NotShorter:
        return L"Teildownload nicht k\u00fcrzer als das Paket";
    case PartialVerdict::Absent:
    case PartialVerdict::Usable:
        break;
    }
    return L"";
}

bool FormatRangeHeaders(wchar_t* headers, size_t capacity, uint64_t offset, const wchar_t* validator)
{
    return BoundedFormat(headers, capacity, L"Range: bytes=%llu-\r\nIf-Range: %s\r\n",
                         static_cast<unsigned long long>(offset), validator) == kFormatOk;
}

PackAnswer DecidePackAnswer(const PackRequestPlan& plan, const PartialMeta& meta, const PackAnswerFacts& facts)
{
    if (facts.status == 200)
        return PackAnswer::WriteWhole;
    if (facts.status == 206) {
        if (!plan.resume)
            return PackAnswer::Refuse;
        return RangeContinuesPartial(plan, meta, facts) ? PackAnswer::Append : PackAnswer::RequestWhole;
    }
    // The partial file outgrew the file on the server, which has changed.
    if (facts.status == 416 && plan.resume)
        return PackAnswer::RequestWhole;
    return PackAnswer::Other;
}

bool AnnouncedFullLength(PackAnswer answer, const PackAnswerFacts& facts, uint64_t* fullLength)
{
    if (answer == PackAnswer::WriteWhole && facts.hasContentLength) {
        *fullLength = facts.contentLength;
        return true;
    }
    if (answer == PackAnswer::Append) {
        *fullLength = facts.range.complete;
        return true;
    }
    return false;
}

uint64_t RoomNeededForPack(uint64_t fullLength)
{
    if (fullLength > UINT64_MAX / kPackRoomFactor)
        return UINT64_MAX;
    return fullLength * kPackRoomFactor;
}

uint64_t RoomToFreeForPack(uint64_t partialBytes, uint64_t fullLength)
{
    uint64_t needed = RoomNeededForPack(fullLength);
    return partialBytes >= needed ? 0 : needed - partialBytes;
}

bool EnoughRoomForPack(uint64_t freeBytes, uint64_t partialBytes, uint64_t fullLength)
{
    return freeBytes >= RoomToFreeForPack(partialBytes, fullLength);
}

void FormatDiskFullText(wchar_t* text, size_t capacity, uint64_t neededBytes, uint64_t freeBytes)
{
    // Needed rounds up and free rounds down, so the box never shows enough room as missing.
    unsigned long long neededMb = neededBytes / kMegabyte + (neededBytes % kMegabyte ? 1 : 0);
    unsigned long long freeMb = freeBytes / kMegabyte;
    BoundedFormat(text, capacity,
                  L"Die Festplatte ist voll: F\u00fcr die Java-Laufzeitumgebung werden %llu MB freier Speicherplatz "
                  L"ben\u00f6tigt, frei sind nur %llu MB. Bitte schaffen Sie Platz und starten Sie den Launcher erneut.",
                  neededMb, freeMb);
}
