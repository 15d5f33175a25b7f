// Seeded random inputs through the parsers that take outside text: property lines, proxy texts
// and command-line quoting. A fixed seed keeps a failure reproducible; LAUNCHER_FUZZ_RUNS runs more.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>

#include <random>
#include <string>

#include "net/proxy.h"
#include "provision/properties.h"
#include "worker/cmdline.h"

namespace {

int Runs()
{
    const char* text = getenv("LAUNCHER_FUZZ_RUNS");
    return text ? atoi(text) : 20000;
}

// Mostly characters that mean something to the parsers, now and then any byte.
std::string RandomText(std::mt19937& random, size_t maxLength)
{
    static const char kInteresting[] = "=:/\\\"\r\n #hostname=forcedownload=truehttp://https://;<>";
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text)
        c = random() % 4 ? kInteresting[random() % (sizeof kInteresting - 1)] : static_cast<char>(random() % 255 + 1);
    return text;
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    for (unsigned char c : text)
        wide += static_cast<wchar_t>(c);
    return wide;
}

} // namespace

TEST(RandomInputs, PropertyLinesNeverReadPastTheLine)
{
    std::mt19937 random(20261207);
    for (int i = 0; i < Runs(); ++i) {
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
    for (int i = 0; i < Runs(); ++i) {
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
        int count = 0;
        wchar_t** split = CommandLineToArgvW((std::wstring(L"javaw") + fragment).c_str(), &count);
        ASSERT_EQ(3, count) << proxy;
        EXPECT_EQ(L"-Dde.tarvolin.windowsProxyServer=" + std::wstring(server), split[1]);
        LocalFree(split);
        free(fragment);
    }
}

TEST(RandomInputs, QuotedValuesComeBackWhole)
{
    std::mt19937 random(99);
    for (int i = 0; i < Runs(); ++i) {
        std::wstring values[3] = {Widen(RandomText(random, 40)), Widen(RandomText(random, 40)),
                                  Widen(RandomText(random, 40))};
        wchar_t line[1024] = L"prog";
        for (const std::wstring& value : values) {
            wcscat(line, L" ");
            ASSERT_TRUE(AppendQuotedArgument(line, 1024, value.c_str()));
        }
        int count = 0;
        wchar_t** split = CommandLineToArgvW(line, &count);
        ASSERT_EQ(4, count) << i;
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(values[k], split[k + 1]) << i;
        LocalFree(split);
    }
}
