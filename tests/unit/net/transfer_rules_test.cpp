// The bounds of every download, by tables: the low-speed rule at its edges, the byte limits, the
// pack's limit and room, and the conditional request's header.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/transfer_rules.h"

TEST(TransferRules, LowSpeedRuleEndsATransferWithFewerThan1024BytesIn60Seconds)
{
    // Each case: (ms, bytes received so far) readings after a start at (0, 0); the reading at
    // which the rule first says too slow, or -1.
    struct {
        const char* name;
        std::vector<std::pair<uint64_t, uint64_t>> readings;
        int slowAt;
    } cases[] = {
        {"1023 bytes in 60 s", {{30000, 1000}, {60000, 1023}}, 1},
        {"1024 bytes in 60 s", {{30000, 1000}, {60000, 1024}}, -1},
        {"1023 bytes, just before 60 s", {{59999, 1023}}, -1},
        {"the window starts again at 60 s", {{60000, 5000}, {119999, 5100}, {120000, 6023}}, 2},
        {"the next window passes too", {{60000, 5000}, {120000, 6024}, {179000, 6024}}, -1},
        {"a stall: nothing for 60 s", {{1000, 9000}, {60999, 9000}, {61000, 9000}}, 2},
        {"a trickle of 1 byte each 5 s", {{5000, 1}, {10000, 2}, {55000, 11}, {60000, 12}}, 3},
    };
    for (const auto& c : cases) {
        LowSpeedWatch watch;
        StartLowSpeedWatch(&watch, 0, 0);
        int slowAt = -1;
        for (size_t i = 0; i < c.readings.size() && slowAt < 0; ++i)
            if (TransferTooSlow(&watch, c.readings[i].first, c.readings[i].second))
                slowAt = static_cast<int>(i);
        EXPECT_EQ(c.slowAt, slowAt) << c.name;
    }
    EXPECT_GE(static_cast<uint64_t>(kReceiveTimeoutMs), kLowSpeedTimeMs) << "the rule decides, not the time-out";
}

TEST(TransferRules, NoByteIsWrittenBeyondTheLimit)
{
    EXPECT_TRUE(AnnouncedLengthOverLimit(true, kVersionFileByteLimit + 1, kVersionFileByteLimit));
    EXPECT_FALSE(AnnouncedLengthOverLimit(true, kVersionFileByteLimit, kVersionFileByteLimit));
    EXPECT_FALSE(AnnouncedLengthOverLimit(false, 0, kVersionFileByteLimit)) << "chunked: stopped while reading";
    EXPECT_EQ(8192u, BytesWithinLimit(57344, 8192, 65536)) << "up to the limit exactly";
    EXPECT_EQ(5536u, BytesWithinLimit(60000, 8192, 65536));
    EXPECT_EQ(0u, BytesWithinLimit(70000, 10, 65536));
    EXPECT_EQ(5u, BytesWithinLimit(UINT64_MAX - 5, 8192, kNoByteLimit)) << "no wrap-around";

    // The pack: the version file's size, else the announced length; a contradiction is refused.
    struct {
        uint64_t expected;
        bool announcedKnown;
        uint64_t announced;
        bool refuse, known;
        uint64_t full;
    } packs[] = {
        {5000, true, 5000, false, true, 5000}, {5000, true, 5001, true, true, 5000}, {5000, true, 4999, true, true, 5000},
        {5000, false, 0, false, true, 5000},   {0, true, 7000, false, true, 7000},   {0, false, 0, false, false, 0},
    };
    for (const auto& p : packs) {
        PackLimit limit = ChoosePackLimit(p.expected, p.announcedKnown, p.announced);
        EXPECT_EQ(p.refuse, limit.refuse) << p.expected << "/" << p.announced;
        EXPECT_EQ(p.known, limit.lengthKnown) << p.expected << "/" << p.announced;
        EXPECT_EQ(p.full, limit.fullLength) << p.expected << "/" << p.announced;
    }
    EXPECT_TRUE(RoomLeftWhileReceiving(200, 100));
    EXPECT_FALSE(RoomLeftWhileReceiving(199, 100));
}

TEST(TransferRules, ConditionalHeaderNamesTheValidatorItHas)
{
    const wchar_t* date = L"Mon, 07 Dec 2026 20:00:00 GMT";
    std::wstring longTag = L"\"" + std::wstring(290, L'a') + L"\"";
    struct {
        const wchar_t* validator;
        bool ok;
        const wchar_t* header;
    } cases[] = {
        {L"\"v1\"", true, L"If-None-Match: \"v1\"\r\n"},
        {L"W/\"v1\"", true, L"If-None-Match: W/\"v1\"\r\n"},
        {date, true, L"If-Modified-Since: Mon, 07 Dec 2026 20:00:00 GMT\r\n"},
        {L"", false, L""},
        {L"\"v\u00e9\"", false, L""},
        {L"\"v1\"\r\nX-Injected: 1", false, L""},
        {longTag.c_str(), false, L""},
    };
    for (const auto& c : cases) {
        wchar_t out[kConditionalHeadersCapacity] = L"x";
        EXPECT_EQ(c.ok, FormatConditionalHeaders(out, kConditionalHeadersCapacity, c.validator)) << c.header;
        EXPECT_STREQ(c.header, out);
    }
}

TEST(TransferRules, ConnectingEndsWithinOneDeadlineWhateverTheAddresses)
{
    for (int resolved = 0; resolved <= 9; ++resolved) {
        ConnectBudget budget = PlanConnectBudget(resolved);
        EXPECT_LE(budget.addresses * budget.perAddressMs, kConnectDeadlineMs) << resolved;
        EXPECT_EQ(resolved >= 1 && resolved <= kMaxConnectAddresses ? resolved : kMaxConnectAddresses, budget.addresses);
    }
    EXPECT_EQ(kConnectDeadlineMs, PlanConnectBudget(1).perAddressMs);
}
