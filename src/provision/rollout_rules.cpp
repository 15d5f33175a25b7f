#include "provision/rollout_rules.h"

namespace {

enum : unsigned { kUnbiasedLimit = 200 }; // the largest multiple of 100 within a byte's 256 values

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool ParseDesktopNumber(const char* text, size_t length, unsigned* number)
{
    // The text an editor may leave: the digits, then at most one line end.
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n')
        length -= 2;
    else if (length >= 1 && text[length - 1] == '\n')
        length -= 1;
    if (length < 1 || length > 2 || !IsDigit(text[0]) || (length == 2 && !IsDigit(text[1])))
        return false;
    *number = length == 2 ? unsigned(text[0] - '0') * 10 + unsigned(text[1] - '0') : unsigned(text[0] - '0');
    return true;
}

size_t FormatDesktopNumber(unsigned number, char* text, size_t capacity)
{
    if (number >= kDesktopNumberRange || capacity < 5)
        return 0;
    size_t length = 0;
    if (number >= 10)
        text[length++] = static_cast<char>('0' + number / 10);
    text[length++] = static_cast<char>('0' + number % 10);
    text[length++] = '\r';
    text[length++] = '\n';
    text[length] = 0;
    return length;
}

bool DesktopNumberFromRandom(const unsigned char* bytes, size_t count, unsigned* number)
{
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] < kUnbiasedLimit) {
            *number = bytes[i] % kDesktopNumberRange;
            return true;
        }
    }
    return false;
}

bool RolloutHoldsBack(bool wholeRuntime, bool forced, unsigned desktopNumber, unsigned rolloutPercent)
{
    return wholeRuntime && !forced && desktopNumber >= rolloutPercent;
}
