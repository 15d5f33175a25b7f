#include "base/cmdline.h"

#include <wchar.h>

namespace {

// Output of the quoting, written unit by unit; a unit that does not fit whole stops all writing.
struct QuotedOutput {
    wchar_t* out;
    size_t capacity;
    size_t written;
    size_t needed;
    bool full;
};

void PutUnit(QuotedOutput& o, const wchar_t* unit, size_t unitLength)
{
    o.needed += unitLength;
    if (o.full || o.written + unitLength + 1 > o.capacity) {
        o.full = true;
        return;
    }
    for (size_t i = 0; i < unitLength; ++i)
        o.out[o.written++] = unit[i];
}

void PutBackslashes(QuotedOutput& o, size_t count)
{
    // Each backslash is its own unit: a cut inside a run loses only some of the doubled run,
    // never the pairing of an escaped quote.
    for (size_t i = 0; i < count; ++i)
        PutUnit(o, L"\\", 1);
}

} // namespace

size_t QuoteCommandLineArgument(const wchar_t* value, wchar_t* out, size_t capacity)
{
    QuotedOutput o = {out, capacity, 0, 0, capacity == 0};
    const wchar_t* p = value ? value : L"";
    PutUnit(o, L"\"", 1);
    while (*p) {
        size_t backslashes = 0;
        while (p[backslashes] == L'\\')
            ++backslashes;
        wchar_t next = p[backslashes];
        if (next == L'"') {
            PutBackslashes(o, backslashes * 2);
            PutUnit(o, L"\\\"", 2);
            p += backslashes + 1;
        } else if (next == 0) {
            // The closing quote follows: the run before it is doubled too.
            PutBackslashes(o, backslashes * 2);
            p += backslashes;
        } else {
            PutBackslashes(o, backslashes);
            PutUnit(o, &next, 1);
            p += backslashes + 1;
        }
    }
    PutUnit(o, L"\"", 1);
    if (capacity > 0)
        out[o.written] = 0;
    return o.needed;
}

bool AppendQuotedArgument(wchar_t* out, size_t capacity, const wchar_t* value)
{
    if (capacity == 0)
        return false;
    size_t start = wcslen(out);
    size_t needed = QuoteCommandLineArgument(value, out + start, capacity - start);
    if (start + needed < capacity)
        return true;
    out[start] = 0;
    return false;
}
