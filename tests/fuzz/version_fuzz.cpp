// The version text's number against the C library's conversion, clamped to 32 bits.
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "fuzz_text.h"
#include "provision/version_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    long long expected = strtoll(text.c_str(), nullptr, 10);
    if (expected > INT_MAX)
        expected = INT_MAX;
    if (expected < INT_MIN)
        expected = INT_MIN;
    FUZZ_CHECK(ParseVersionText(text.c_str()) == expected);
    return 0;
}
