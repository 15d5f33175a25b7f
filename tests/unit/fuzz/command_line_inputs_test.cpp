// Seeded random values through the command-line quoting and the whole launcher command line,
// split back by the real CommandLineToArgvW. The values start from the quoting corpus.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "../../fuzz/fuzz_text.h"
#include "base/cmdline.h"
#include "base/state.h"
#include "net/proxy.h"
#include "seeds.h"
#include "test_helpers.h"
#include "worker/launch.h"

namespace {

// Mostly the characters that matter to the splitting, now and then any 16-bit unit but zero
// (lone surrogates included), sometimes long enough to pass every limit.
std::wstring RandomValue(std::mt19937& random, const std::vector<std::wstring>& seedValues)
{
    if (!seedValues.empty() && random() % 4 == 0)
        return seedValues[random() % seedValues.size()];
    static const wchar_t kInteresting[] = L"\"\\ \t\\\"ab=:/";
    size_t length = random() % 8 == 0 ? random() % 1500 : random() % 40;
    std::wstring value(length, L'a');
    for (wchar_t& c : value) {
        unsigned pick = random() % 8;
        c = pick < 5 ? kInteresting[random() % (sizeof kInteresting / sizeof(wchar_t) - 1)]
            : pick < 7 ? static_cast<wchar_t>(0x20 + random() % 0x5F)
                       : static_cast<wchar_t>(1 + random() % 0xFFFF);
    }
    return value;
}

std::vector<std::wstring> SeedValues()
{
    std::vector<std::wstring> values;
    for (const std::string& seed : LoadCorpus("quote")) {
        if (seed.size() < 2)
            continue;
        for (const std::wstring& value :
             WideValues(reinterpret_cast<const uint8_t*>(seed.data()) + 2, seed.size() - 2))
            values.push_back(value);
    }
    return values;
}

std::wstring Property(const wchar_t* prefix, const std::wstring& value, size_t limit)
{
    return (prefix + value).substr(0, limit);
}

} // namespace

TEST(RandomInputs, QuotedValueListsComeBackWhole)
{
    std::vector<std::wstring> seedValues = SeedValues();
    ASSERT_FALSE(seedValues.empty());
    std::mt19937 random(31337);
    int runs = FuzzRuns(20000) / 4;
    std::vector<wchar_t> line(16384);
    for (int i = 0; i < runs; ++i) {
        std::vector<std::wstring> values(random() % 9);
        wcscpy(line.data(), L"prog");
        for (std::wstring& value : values) {
            value = RandomValue(random, seedValues);
            wcscat(line.data(), L" ");
            ASSERT_TRUE(AppendQuotedArgument(line.data(), line.size(), value.c_str()));
        }
        std::vector<std::wstring> split = SplitCommandLine(line.data());
        ASSERT_EQ(values.size() + 1, split.size()) << i;
        for (size_t k = 0; k < values.size(); ++k)
            ASSERT_EQ(values[k], split[k + 1]) << i << " value " << k;
        // The splitter the native targets check against agrees with the real one.
        ASSERT_EQ(std::vector<std::wstring>(split.begin() + 1, split.end()), SplitArguments(line.data() + 4)) << i;
    }
}

// The line is cut to its room by leaving arguments off whole: whatever it holds splits into the
// leading arguments of the full line, unchanged, and nothing is written behind the room.
TEST(RandomInputs, LauncherCommandLinesSplitIntoTheirLeadingArguments)
{
    std::vector<std::wstring> seedValues = SeedValues();
    std::mt19937 random(6096);
    int runs = FuzzRuns(20000) / 4;
    const size_t kCanary = 16;
    std::vector<wchar_t> line(kLauncherCommandLineCapacity + kCanary);
    std::vector<wchar_t> full(1 << 16);
    for (int i = 0; i < runs; ++i) {
        std::wstring text[10];
        for (std::wstring& value : text)
            value = RandomValue(random, seedValues);
        // A path holds no quotation mark; a path cut at its field may end in a backslash.
        std::wstring javaw;
        for (wchar_t c : text[0].substr(0, kPathCapacity - 1))
            if (c != L'"')
                javaw += c;
        std::wstring server = text[1], bypass = text[2];
        wchar_t* fragment = nullptr;
        switch (random() % 3) {
        case 0:
            fragment = BuildProxyFragment(server.c_str(), bypass.c_str());
            break;
        case 1:
            fragment = _wcsdup(L" ");
            break;
        }
        LauncherCommandValues values = {javaw.c_str(),   fragment,          text[3].c_str(), text[4].c_str(),
                                        text[5].c_str(), text[6].c_str(),   text[7].c_str(), text[8].c_str(),
                                        text[9].c_str(), text[1].c_str(),   text[2].c_str()};
        // The room: the real one, any, or one that ends right at an argument of the full line,
        // where an off-by-one would show.
        BuildLauncherCommandLine(values, full.data(), full.size());
        std::wstring fullLine = full.data();
        const size_t room = kLauncherCommandLineCapacity;
        size_t capacity = room;
        if (random() % 3 == 0) {
            capacity = 1 + random() % room;
        } else if (random() % 2) {
            size_t blank = fullLine.find(L' ', random() % (fullLine.size() + 1));
            capacity = (blank == std::wstring::npos ? fullLine.size() : blank) + random() % 3;
            capacity = capacity < 1 ? 1 : capacity > room ? room : capacity;
        }
        SetCanary(line.data() + capacity, kCanary);
        bool whole = BuildLauncherCommandLine(values, line.data(), capacity);

        std::vector<std::wstring> expected = {javaw};
        if (fragment && fragment[1]) {
            expected.push_back(Property(L"-Dde.tarvolin.windowsProxyServer=", server, std::wstring::npos));
            expected.push_back(Property(L"-Dde.tarvolin.windowsProxyBypass=", bypass, std::wstring::npos));
        }
        std::vector<std::wstring> properties = {
            L"-Djava.net.useSystemProxies=true",
            Property(L"-Dde.tarvolin.launchURL=", text[3], 255),
            Property(L"-Dde.tarvolin.appVariant=", text[4], 99),
            Property(L"-Dde.tarvolin.jreSrcUrlPath=", text[5], 299),
            Property(L"-Dde.tarvolin.jreCacheBasePath=", text[6], 299),
            Property(L"-Dcom.tarvolin.launch.exe=", text[7], 255),
            Property(L"-Dde.tarvolin.LocalLowPath=", text[8], 359),
            Property(L"-Dde.tarvolin.RoamingPath=", text[9], 359),
            L"-jar", text[1], text[2]};
        expected.insert(expected.end(), properties.begin(), properties.end());
        free(fragment);

        ASSERT_TRUE(CanaryIntact(line.data() + capacity, kCanary)) << i;
        size_t length = wcsnlen(line.data(), capacity);
        ASSERT_LT(length, capacity) << i;
        std::vector<std::wstring> split = length ? SplitCommandLine(line.data()) : std::vector<std::wstring>();
        ASSERT_LE(split.size(), expected.size()) << i;
        ASSERT_EQ(whole, split.size() == expected.size()) << i;
        // The program name follows its own rule (no escapes): a trailing backslash run comes back
        // doubled, which only a cut path can have.
        size_t first = !javaw.empty() && javaw.back() == L'\\' ? 1 : 0;
        for (size_t k = first; k < split.size(); ++k)
            ASSERT_EQ(expected[k], split[k]) << i << " argument " << k;
    }
}
