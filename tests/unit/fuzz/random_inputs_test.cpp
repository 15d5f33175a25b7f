// Seeded random inputs through the parsers that take outside text: property lines, proxy texts
// and command-line quoting. A fixed seed keeps a failure reproducible; LAUNCHER_FUZZ_RUNS runs more.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "base/cmdline.h"
#include "net/proxy.h"
#include "provision/properties.h"
#include "seeds.h"
#include "test_helpers.h"

namespace {

// Mostly characters that mean something to the parsers, now and then any byte.
std::string RandomText(std::mt19937& random, size_t maxLength)
{
    static const char kInteresting[] = "=:/\\\"\r\n #hostname=forcedownload=truehttp://https://;<>";
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text)
        c = random() % 4 ? kInteresting[random() % (sizeof kInteresting - 1)] : static_cast<char>(random() % 255 + 1);
    return text;
}

} // namespace

TEST(RandomInputs, PropertyLinesNeverReadPastTheLine)
{
    std::mt19937 random(20261207);
    for (int i = 0; i < FuzzRuns(20000); ++i) {
        std::string line = RandomText(random, 120);
        const char* value = nullptr;
        size_t length = 0;
        if (ClassifyPropertyLine(line.c_str(), &value, &length) > PropertyKey::kForceDownload) {
            ASSERT_GE(value, line.c_str());
            ASSERT_LE(value + length, line.c_str() + line.size());
            ASSERT_EQ(std::string::npos, std::string(value, length).find_first_of("\r\n"));
        }
    }
}

TEST(RandomInputs, ProxyTextsGiveServerTextsInsideTheProxyText)
{
    std::mt19937 random(7);
    for (int i = 0; i < FuzzRuns(20000); ++i) {
        std::string proxy = RandomText(random, 80);
        ProxyTextNamesServer(proxy.c_str());
        std::wstring wide = Widen(proxy);
        const wchar_t* server = ProxyServerText(wide.c_str());
        if (!server)
            continue;
        ASSERT_GE(server, wide.c_str());
        ASSERT_LE(server, wide.c_str() + wide.size());
        wchar_t* fragment = BuildProxyFragment(server, wide.c_str());
        ASSERT_NE(nullptr, fragment);
        std::vector<std::wstring> split = SplitCommandLine(std::wstring(L"javaw") + fragment);
        free(fragment);
        ASSERT_EQ(3u, split.size()) << proxy;
        EXPECT_EQ(L"-Dde.tarvolin.windowsProxyServer=" + std::wstring(server), split[1]);
    }
}

TEST(RandomInputs, QuotedValuesComeBackWhole)
{
    std::mt19937 random(99);
    for (int i = 0; i < FuzzRuns(20000); ++i) {
        std::wstring values[3] = {Widen(RandomText(random, 40)), Widen(RandomText(random, 40)),
                                  Widen(RandomText(random, 40))};
        wchar_t line[1024] = L"prog";
        for (const std::wstring& value : values) {
            wcscat(line, L" ");
            ASSERT_TRUE(AppendQuotedArgument(line, 1024, value.c_str()));
        }
        std::vector<std::wstring> split = SplitCommandLine(line);
        ASSERT_EQ(4u, split.size()) << i;
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(values[k], split[k + 1]) << i;
    }
}
