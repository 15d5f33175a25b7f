// Helpers the native fuzz targets share: turning fuzz bytes into wide values, and an independent
// splitter of Windows command lines to check quoted output against.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

// Splits bytes at zero bytes into wide values. A byte 0xFF and the two bytes after it make one
// 16-bit unit of any value but zero; every other byte is the unit of the same value.
inline std::vector<std::wstring> WideValues(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> values(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            values.emplace_back();
        } else if (data[i] == 0xFF && i + 2 < size) {
            wchar_t unit = static_cast<wchar_t>((data[i + 1] << 8) | data[i + 2]);
            values.back() += unit ? unit : L'\xFFFF';
            i += 2;
        } else {
            values.back() += static_cast<wchar_t>(data[i]);
        }
    }
    return values;
}

inline bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The arguments of a command line after the program name, by the Windows rules: blanks and tabs
// outside quotes separate; 2n backslashes before a quote give n and the quote opens or closes;
// 2n+1 give n and a literal quote; backslashes before anything else stay as they are.
inline std::vector<std::wstring> SplitArguments(const wchar_t* p)
{
    std::vector<std::wstring> arguments;
    for (;;) {
        while (IsBlank(*p))
            ++p;
        if (!*p)
            return arguments;
        std::wstring argument;
        bool quoted = false;
        while (*p && (quoted || !IsBlank(*p))) {
            if (*p == L'\\') {
                size_t run = 0;
                while (p[run] == L'\\')
                    ++run;
                if (p[run] == L'"') {
                    argument.append(run / 2, L'\\');
                    if (run % 2) {
                        argument += L'"';
                        p += run + 1;
                    } else {
                        p += run;
                    }
                } else {
                    argument.append(run, L'\\');
                    p += run;
                }
            } else if (*p == L'"') {
                quoted = !quoted;
                ++p;
            } else {
                argument += *p++;
            }
        }
        arguments.push_back(argument);
    }
}

// Writes a fixed pattern behind a buffer and tells whether it is still there.
inline void SetCanary(wchar_t* behind, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        behind[i] = static_cast<wchar_t>(0xC0DE + i);
}

inline bool CanaryIntact(const wchar_t* behind, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (behind[i] != static_cast<wchar_t>(0xC0DE + i))
            return false;
    return true;
}

#define FUZZ_CHECK(condition)                                                                           \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);              \
            abort();                                                                                    \
        }                                                                                               \
    } while (0)
