// The decisions of the resumable pack download, by tables: the length headers in 64 bits, the
// validator, the stored metadata, what is asked for, what is done with the answer, and the room
// the pack needs.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "net/resume_rules.h"

namespace {

const uint64_t kFourGiB = 4294967296ull;

PartialMeta Meta(const wchar_t* source, const wchar_t* validator, uint64_t fullLength)
{
    PartialMeta meta = {};
    wcsncpy(meta.source, source, kResumeSourceCapacity - 1);
    wcsncpy(meta.validator, validator, kValidatorCapacity - 1);
    meta.fullLength = fullLength;
    return meta;
}

} // namespace

TEST(ResumeRules, ContentLengthIsReadIn64Bits)
{
    struct {
        const wchar_t* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {L"0", true, 0},
        {L"20971520", true, 20971520},
        {L"4294967295", true, 4294967295ull},
        {L"4294967296", true, kFourGiB}, // counted as short when read as 32 bits
        {L"6442450944", true, 6442450944ull},
        {L"18446744073709551615", true, UINT64_MAX},
        {L" 42 ", true, 42},
        {L"42, 42", true, 42}, // the same header twice, joined
        {L"18446744073709551616", false, 0},
        {L"42, 43", false, 0},
        {L"", false, 0},
        {L"-1", false, 0},
        {L"+5", false, 0},
        {L"12abc", false, 0},
        {L"1 2", false, 0},
        {L"42,", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t value = 7;
        EXPECT_EQ(c.ok, ParseContentLength(c.text, &value)) << c.text;
        EXPECT_EQ(c.ok ? c.value : 7u, value) << c.text << (c.ok ? "" : ": untouched when refused");
    }
}

TEST(ResumeRules, ContentRangeIsASatisfiedByteRange)
{
    struct {
        const wchar_t* text;
        bool ok;
        ContentRange range;
    } cases[] = {
        {L"bytes 100-199/200", true, {100, 199, 200, true}},
        {L"Bytes 0-0/1", true, {0, 0, 1, true}},
        {L"bytes 5000000000-6442450943/6442450944", true, {5000000000ull, 6442450943ull, 6442450944ull, true}},
        {L"bytes 0-9/*", true, {0, 9, 0, false}},
        {L"  bytes   3-4/5  ", true, {3, 4, 5, true}},
        {L"bytes 200-199/300", false, {}},   // first behind last
        {L"bytes 100-200/200", false, {}},   // last at the complete length
        {L"bytes */200", false, {}},         // the unsatisfied form of a 416
        {L"bytes=100-199/200", false, {}},
        {L"items 1-2/3", false, {}},
        {L"bytes 1-2", false, {}},
        {L"bytes 1-2/3x", false, {}},
        {L"bytes 1 -2/3", false, {}},
        {L"bytes 0-18446744073709551616/*", false, {}},
        {L"", false, {}},
    };
    for (const auto& c : cases) {
        ContentRange range = {1, 2, 3, true};
        EXPECT_EQ(c.ok, ParseContentRange(c.text, &range)) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(c.range.first, range.first) << c.text;
        EXPECT_EQ(c.range.last, range.last) << c.text;
        EXPECT_EQ(c.range.completeKnown, range.completeKnown) << c.text;
        if (c.range.completeKnown) {
            EXPECT_EQ(c.range.complete, range.complete) << c.text;
        }
    }
}

TEST(ResumeRules, ValidatorIsAStrongEtagElseLastModified)
{
    const wchar_t* date = L"Mon, 07 Dec 2026 20:00:00 GMT";
    struct {
        const wchar_t* etag;
        const wchar_t* lastModified;
        const wchar_t* validator; // null: none
    } cases[] = {
        {L"\"abc\"", date, L"\"abc\""},
        {L" \"abc\" ", nullptr, L"\"abc\""},
        {nullptr, date, date},
        {L"", date, date},
        {L"W/\"abc\"", date, nullptr}, // a weak tag: neither it nor the date may be sent
        {L"abc", date, nullptr},       // not a quoted tag
        {L"\"", date, nullptr},
        {L"\"ab\u00e9\"", date, nullptr},
        {nullptr, L"Mon, 07 Dec 2026 \u00e9", nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        wchar_t validator[kValidatorCapacity];
        bool chosen = ChooseValidator(c.etag, c.lastModified, validator, kValidatorCapacity);
        EXPECT_EQ(c.validator != nullptr, chosen) << (c.etag ? c.etag : L"(no etag)");
        EXPECT_STREQ(c.validator ? c.validator : L"", validator);
    }
    std::wstring longTag = L"\"" + std::wstring(kValidatorCapacity, L'a') + L"\"";
    wchar_t validator[kValidatorCapacity];
    EXPECT_FALSE(ChooseValidator(longTag.c_str(), date, validator, kValidatorCapacity));
}

TEST(ResumeRules, MetadataIsReadBackOnlyAsWritten)
{
    PartialMeta meta = Meta(L"get.tarvolin.example/jre/jre_pack.exe", L"\"v2-5f3a\"", 6442450944ull);
    char text[kPartialMetaTextCapacity];
    size_t size = FormatPartialMeta(meta, text, sizeof text);
    ASSERT_STREQ("tarvolin partial download 1\r\nsource=get.tarvolin.example/jre/jre_pack.exe\r\n"
                 "validator=\"v2-5f3a\"\r\nlength=6442450944\r\n",
                 text);
    ASSERT_EQ(strlen(text), size);

    PartialMeta read = {};
    ASSERT_TRUE(ParsePartialMeta(text, size, &read));
    EXPECT_STREQ(meta.source, read.source);
    EXPECT_STREQ(meta.validator, read.validator);
    EXPECT_EQ(meta.fullLength, read.fullLength);

    std::string lf = "tarvolin partial download 1\nsource=h/p\nvalidator=x\nlength=5";
    EXPECT_TRUE(ParsePartialMeta(lf.data(), lf.size(), &read)) << "LF line ends and no last line end";

    const char* refused[] = {
        "",
        "tarvolin partial download 2\r\nsource=h/p\r\nvalidator=x\r\nlength=5\r\n",
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=x\r\n", // cut before the length
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=x\r\nlength=0\r\n",
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=x\r\nlength=18446744073709551616\r\n",
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=x\r\nlength=5x\r\n",
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=\r\nlength=5\r\n",
        "tarvolin partial download 1\r\nvalidator=x\r\nsource=h/p\r\nlength=5\r\n",
        "tarvolin partial download 1\r\nsource=h/p\r\nvalidator=x\r\nlength=5\r\nlength=6\r\n",
        "tarvolin partial download 1\r\nsource=h/\x01p\r\nvalidator=x\r\nlength=5\r\n",
    };
    for (const char* t : refused)
        EXPECT_FALSE(ParsePartialMeta(t, strlen(t), &read)) << t;

    char small[40];
    EXPECT_EQ(0u, FormatPartialMeta(meta, small, sizeof small)) << "a text that does not fit is not written";
    EXPECT_EQ(0u, FormatPartialMeta(Meta(L"h/p\u00e9", L"x", 5), text, sizeof text));
    EXPECT_EQ(0u, FormatPartialMeta(Meta(L"h/p", L"", 5), text, sizeof text));
}

TEST(ResumeRules, WhatIsAskedFor)
{
    const wchar_t* source = L"h/jre_pack.exe";
    PartialMeta meta = Meta(source, L"\"v1\"", 1000);
    PartialMeta noValidator = Meta(source, L"", 1000);
    struct {
        uint64_t partialSize;
        bool metaValid;
        const PartialMeta* meta;
        const wchar_t* source;
        bool resume;
        PartialVerdict verdict;
    } cases[] = {
        {0, true, &meta, source, false, PartialVerdict::Absent},
        {400, true, &meta, source, true, PartialVerdict::Usable},
        {999, true, &meta, source, true, PartialVerdict::Usable},
        {1000, true, &meta, source, false, PartialVerdict::NotShorter},
        {1500, true, &meta, source, false, PartialVerdict::NotShorter},
        {400, false, &meta, source, false, PartialVerdict::NoMeta},
        {400, true, &meta, L"h/other.exe", false, PartialVerdict::OtherSource},
        {400, true, &noValidator, source, false, PartialVerdict::NoValidator},
    };
    for (const auto& c : cases) {
        PackRequestPlan plan = PlanPackRequest(c.partialSize, c.metaValid, *c.meta, c.source);
        EXPECT_EQ(c.resume, plan.resume) << c.partialSize;
        EXPECT_EQ(c.verdict, plan.verdict) << c.partialSize;
        EXPECT_EQ(c.resume ? c.partialSize : 0, plan.offset) << c.partialSize;
    }

    wchar_t headers[kRangeHeadersCapacity];
    ASSERT_TRUE(FormatRangeHeaders(headers, kRangeHeadersCapacity, 5000000000ull, L"\"v1\""));
    EXPECT_STREQ(L"Range: bytes=5000000000-\r\nIf-Range: \"v1\"\r\n", headers);
    EXPECT_FALSE(FormatRangeHeaders(headers, 20, 400, L"\"v1\""));
}

TEST(ResumeRules, WhatIsDoneWithTheAnswer)
{
    PartialMeta meta = Meta(L"h/p", L"\"v1\"", 1000);
    PackRequestPlan resumed = {true, 400, PartialVerdict::Usable};
    PackRequestPlan plain = {false, 0, PartialVerdict::Absent};
    const ContentRange rest = {400, 999, 1000, true};
    struct {
        const char* name;
        const PackRequestPlan* plan;
        PackAnswerFacts facts;
        PackAnswer answer;
    } cases[] = {
        {"206 with the rest", &resumed, {206, true, rest, true, 600, L"\"v1\""}, PackAnswer::Append},
        {"206 without length or validator", &resumed, {206, true, rest, false, 0, nullptr}, PackAnswer::Append},
        {"200: changed or no ranges", &resumed, {200, false, {}, true, 1200, L"\"v2\""}, PackAnswer::WriteWhole},
        {"206 from another start", &resumed, {206, true, {300, 999, 1000, true}, true, 700, nullptr},
         PackAnswer::RequestWhole},
        {"206 not to the end", &resumed, {206, true, {400, 899, 1000, true}, true, 500, nullptr},
         PackAnswer::RequestWhole},
        {"206 of another length", &resumed, {206, true, {400, 1199, 1200, true}, true, 800, nullptr},
         PackAnswer::RequestWhole},
        {"206 of unknown length", &resumed, {206, true, {400, 999, 0, false}, true, 600, nullptr},
         PackAnswer::RequestWhole},
        {"206 without Content-Range", &resumed, {206, false, {}, true, 600, nullptr}, PackAnswer::RequestWhole},
        {"206 whose length disagrees", &resumed, {206, true, rest, true, 601, nullptr}, PackAnswer::RequestWhole},
        {"206 with another validator", &resumed, {206, true, rest, true, 600, L"\"v2\""}, PackAnswer::RequestWhole},
        {"416", &resumed, {416, false, {}, false, 0, nullptr}, PackAnswer::RequestWhole},
        {"404 keeps the partial file", &resumed, {404, false, {}, false, 0, nullptr}, PackAnswer::Other},
        {"plain 200", &plain, {200, false, {}, true, 1000, nullptr}, PackAnswer::WriteWhole},
        {"206 to a plain request", &plain, {206, true, rest, true, 600, nullptr}, PackAnswer::Refuse},
        {"416 to a plain request", &plain, {416, false, {}, false, 0, nullptr}, PackAnswer::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.answer, DecidePackAnswer(*c.plan, meta, c.facts)) << c.name;

    uint64_t full = 0;
    EXPECT_TRUE(AnnouncedFullLength(PackAnswer::Append, cases[0].facts, &full));
    EXPECT_EQ(1000u, full);
    EXPECT_TRUE(AnnouncedFullLength(PackAnswer::WriteWhole, cases[2].facts, &full));
    EXPECT_EQ(1200u, full);
    PackAnswerFacts chunked = {200, false, {}, false, 0, nullptr};
    EXPECT_FALSE(AnnouncedFullLength(PackAnswer::WriteWhole, chunked, &full));
}

TEST(ResumeRules, RoomForThePackAndTheUnpackedRuntime)
{
    const uint64_t mb = 1024 * 1024;
    struct {
        uint64_t freeBytes;
        uint64_t partialBytes;
        uint64_t fullLength;
        bool enough;
        uint64_t toFree;
    } cases[] = {
        {60 * mb, 0, 20 * mb, true, 60 * mb},
        {60 * mb - 1, 0, 20 * mb, false, 60 * mb},
        {50 * mb, 10 * mb, 20 * mb, true, 50 * mb}, // the partial file's bytes stay or are overwritten
        {0, 0, 0, true, 0},
        {UINT64_MAX - 1, 0, UINT64_MAX / 2, false, UINT64_MAX}, // no wrap-around
        {UINT64_MAX, 0, UINT64_MAX, true, UINT64_MAX},
        {0, 100, 30, true, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.enough, EnoughRoomForPack(c.freeBytes, c.partialBytes, c.fullLength)) << c.fullLength;
        EXPECT_EQ(c.toFree, RoomToFreeForPack(c.partialBytes, c.fullLength)) << c.fullLength;
    }

    wchar_t text[512];
    FormatDiskFullText(text, 512, 60 * mb + 1, 59 * mb + mb / 2);
    EXPECT_STREQ(L"Die Festplatte ist voll: F\u00fcr die Java-Laufzeitumgebung werden 61 MB freier Speicherplatz "
                 L"ben\u00f6tigt, frei sind nur 59 MB. Bitte schaffen Sie Platz und starten Sie den Launcher erneut.",
                 text);
}
