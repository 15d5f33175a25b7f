// Quoting of command-line values: each value alone into a buffer of any capacity, and a list of
// values appended to one line, which must split back into the values that were appended.
#include <wchar.h>

#include "base/cmdline.h"
#include "fuzz_text.h"

namespace {

const size_t kCanary = 8;

void CheckOneValue(const std::wstring& value, size_t capacity)
{
    std::vector<wchar_t> whole(2 * value.size() + 3 + kCanary);
    size_t needed = QuoteCommandLineArgument(value.c_str(), whole.data(), 2 * value.size() + 3);
    FUZZ_CHECK(needed == wcslen(whole.data()));
    FUZZ_CHECK(needed <= 2 * value.size() + 2);
    std::vector<std::wstring> back = SplitArguments(whole.data());
    FUZZ_CHECK(back.size() == 1 && back[0] == value);

    // Any smaller room: the same length needed, a terminated prefix of the whole text, nothing
    // written behind the room.
    capacity %= needed + 2;
    std::vector<wchar_t> cut(capacity + kCanary);
    SetCanary(cut.data() + capacity, kCanary);
    FUZZ_CHECK(QuoteCommandLineArgument(value.c_str(), cut.data(), capacity) == needed);
    FUZZ_CHECK(CanaryIntact(cut.data() + capacity, kCanary));
    if (capacity > 0) {
        size_t length = wcsnlen(cut.data(), capacity);
        FUZZ_CHECK(length < capacity);
        FUZZ_CHECK(wmemcmp(cut.data(), whole.data(), length) == 0);
        if (capacity <= needed) {
            // Escape units are at most two characters long, and \" is never split.
            FUZZ_CHECK(length + 2 >= capacity);
            FUZZ_CHECK(!(length > 0 && length + 1 < needed && whole[length] == L'"'));
        }
    }
}

void CheckLine(const std::vector<std::wstring>& values, size_t capacity)
{
    std::vector<wchar_t> line(capacity + kCanary);
    SetCanary(line.data() + capacity, kCanary);
    wcscpy(line.data(), L"prog");
    std::vector<std::wstring> appended;
    for (const std::wstring& value : values) {
        size_t length = wcslen(line.data());
        if (length + 2 > capacity)
            break;
        wcscat(line.data(), L" ");
        if (AppendQuotedArgument(line.data(), capacity, value.c_str()))
            appended.push_back(value);
        else
            FUZZ_CHECK(wcslen(line.data()) == length + 1); // a value that did not fit leaves no trace
    }
    FUZZ_CHECK(CanaryIntact(line.data() + capacity, kCanary));
    FUZZ_CHECK(wcsnlen(line.data(), capacity) < capacity);
    FUZZ_CHECK(SplitArguments(line.data() + 4) == appended);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t capacity = (size_t(data[0]) << 8 | data[1]) % 8192 + 5;
    std::vector<std::wstring> values = WideValues(data + 2, size - 2);
    for (const std::wstring& value : values)
        CheckOneValue(value, capacity);
    CheckLine(values, capacity);
    return 0;
}
