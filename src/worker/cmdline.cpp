#include "worker/cmdline.h"

#include <wchar.h>

namespace {

bool Put(wchar_t* out, size_t capacity, size_t& length, wchar_t c, size_t count = 1)
{
    for (size_t i = 0; i < count; ++i) {
        if (length + 1 >= capacity)
            return false;
        out[length++] = c;
    }
    return true;
}

} // namespace

bool AppendQuotedArgument(wchar_t* out, size_t capacity, const wchar_t* value)
{
    if (capacity == 0)
        return false;
    size_t start = wcslen(out);
    size_t length = start;
    bool fits = Put(out, capacity, length, L'"');
    const wchar_t* p = value ? value : L"";
    while (fits && *p) {
        size_t backslashes = 0;
        while (p[backslashes] == L'\\')
            ++backslashes;
        wchar_t next = p[backslashes];
        if (next == L'"' || next == 0) {
            // Backslashes before a quote (or before the closing quote) are doubled.
            fits = Put(out, capacity, length, L'\\', backslashes * 2);
            if (fits && next == L'"')
                fits = Put(out, capacity, length, L'\\') && Put(out, capacity, length, L'"');
            p += backslashes + (next == L'"' ? 1 : 0);
        } else {
            fits = Put(out, capacity, length, L'\\', backslashes) && Put(out, capacity, length, next);
            p += backslashes + 1;
        }
    }
    fits = fits && Put(out, capacity, length, L'"');
    out[fits ? length : start] = 0;
    return fits;
}
