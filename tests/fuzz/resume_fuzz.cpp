// The headers and the stored metadata of a resumable download: a length is a plain decimal that
// prints back to its digits, a range is satisfied, a metadata text that is read back writes the
// same bytes again, and whatever the headers say, an appended answer continues the partial file
// exactly and ends at the stored full length. The bounds of transfer_rules.h ride along: a
// conditional header is one header line, a chunk never crosses its limit, and a transfer that
// gains at least the low-speed bytes at every reading is never too slow.
#include <string.h>

#include <string>

#include "fuzz_text.h"
#include "net/resume_rules.h"
#include "net/transfer_rules.h"

namespace {

std::wstring Digits(uint64_t value)
{
    std::wstring out;
    do {
        out.insert(out.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value);
    return out;
}

void CheckLength(const std::wstring& text)
{
    uint64_t length = 0;
    if (!ParseContentLength(text.c_str(), &length))
        return;
    // The value's digits, without leading zeros, appear in the text.
    FUZZ_CHECK(text.find(Digits(length)) != std::wstring::npos);
}

void CheckMeta(const uint8_t* data, size_t size)
{
    PartialMeta meta;
    if (!ParsePartialMeta(reinterpret_cast<const char*>(data), size, &meta))
        return;
    char text[kPartialMetaTextCapacity];
    size_t written = FormatPartialMeta(meta, text, sizeof text);
    FUZZ_CHECK(written > 0);
    PartialMeta again;
    FUZZ_CHECK(ParsePartialMeta(text, written, &again));
    FUZZ_CHECK(wcscmp(meta.source, again.source) == 0);
    FUZZ_CHECK(wcscmp(meta.validator, again.validator) == 0);
    FUZZ_CHECK(meta.fullLength == again.fullLength);
}

// Metadata and a partial size from the metadata text, the answer from the header values.
void CheckAnswer(const uint8_t* data, size_t size, const std::vector<std::wstring>& values)
{
    PartialMeta meta;
    if (!ParsePartialMeta(reinterpret_cast<const char*>(data), size, &meta) || values.size() < 4)
        return;
    uint64_t partial = 0;
    if (!ParseContentLength(values[1].c_str(), &partial))
        return;
    PackRequestPlan plan = PlanPackRequest(partial, true, meta, meta.source);
    PackAnswerFacts facts = {};
    facts.status = values[0].empty() ? 200 : static_cast<unsigned>(values[0][0]) % 600;
    facts.hasContentRange = ParseContentRange(values[2].c_str(), &facts.range);
    facts.hasContentLength = ParseContentLength(values[3].c_str(), &facts.contentLength);
    facts.validator = values.size() > 4 ? values[4].c_str() : nullptr;
    PackAnswer answer = DecidePackAnswer(plan, meta, facts);
    if (answer != PackAnswer::Append)
        return;
    FUZZ_CHECK(plan.resume && facts.status == 206);
    FUZZ_CHECK(facts.range.first == partial && partial < meta.fullLength);
    FUZZ_CHECK(facts.range.last + 1 == meta.fullLength);
    uint64_t full = 0;
    FUZZ_CHECK(AnnouncedFullLength(answer, facts, &full) && full == meta.fullLength);
}

// Readings from the bytes: each pair is a pause (in seconds) and a gain (in 64-byte steps).
void CheckTransfer(const uint8_t* data, size_t size)
{
    LowSpeedWatch watch;
    StartLowSpeedWatch(&watch, 0, 0);
    uint64_t now = 0, received = 0;
    bool everyGainFast = true;
    for (size_t i = 0; i + 1 < size; i += 2) {
        now += data[i] * 1000ull;
        uint64_t gain = data[i + 1] * 64ull;
        everyGainFast = everyGainFast && data[i] <= kLowSpeedTimeMs / 1000 && gain >= kLowSpeedLimitBytes;
        uint64_t fits = BytesWithinLimit(received, gain, 70000);
        FUZZ_CHECK(fits <= gain && (received > 70000 || received + fits <= 70000));
        received += gain;
        bool slow = TransferTooSlow(&watch, now, received);
        FUZZ_CHECK(!(slow && everyGainFast));
        if (slow)
            StartLowSpeedWatch(&watch, now, received);
    }
}

void CheckConditional(const std::wstring& value)
{
    wchar_t header[kConditionalHeadersCapacity];
    if (!FormatConditionalHeaders(header, kConditionalHeadersCapacity, value.c_str()))
        return;
    std::wstring text(header);
    FUZZ_CHECK(text.find(L"\r\n") == text.size() - 2 && text.find(L'\n') == text.size() - 1);
    FUZZ_CHECK(text.compare(0, 3, L"If-") == 0 && text.find(value) != std::wstring::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The metadata part runs up to the first 0xFE byte; the header values follow it.
    const uint8_t* split = static_cast<const uint8_t*>(memchr(data, 0xFE, size));
    size_t metaSize = split ? static_cast<size_t>(split - data) : size;
    CheckMeta(data, metaSize);
    std::vector<std::wstring> values = split ? WideValues(split + 1, size - metaSize - 1) : WideValues(data, size);
    for (const std::wstring& value : values) {
        CheckLength(value);
        ContentRange range;
        if (ParseContentRange(value.c_str(), &range))
            FUZZ_CHECK(range.first <= range.last && (!range.completeKnown || range.last < range.complete));
        wchar_t validator[kValidatorCapacity];
        if (ChooseValidator(value.c_str(), value.c_str(), validator, kValidatorCapacity))
            FUZZ_CHECK(validator[0] == L'"' && wcslen(validator) >= 2);
    }
    CheckAnswer(data, metaSize, values);
    CheckTransfer(data, size);
    for (const std::wstring& value : values)
        CheckConditional(value);
    return 0;
}
