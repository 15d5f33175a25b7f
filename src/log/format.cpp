#include "log/format.h"

#include <stdint.h>

namespace {

struct Sink {
    wchar_t* out;
    size_t capacity;
    size_t length; // characters the full result needs so far
};

void Put(Sink& sink, wchar_t c)
{
    if (sink.length + 1 < sink.capacity)
        sink.out[sink.length] = c;
    ++sink.length;
}

void PutPadding(Sink& sink, wchar_t c, int count)
{
    for (int i = 0; i < count; ++i)
        Put(sink, c);
}

struct Spec {
    bool leftAlign;
    bool zeroPad;
    bool plusSign;
    bool spaceSign;
    int width;
    int precision; // -1: none
    enum { kDefault, kShort, kLong, kLongLong } size;
};

void PutWideText(Sink& sink, const Spec& spec, const wchar_t* text)
{
    if (!text)
        text = L"(null)";
    int length = 0;
    while (text[length] && (spec.precision < 0 || length < spec.precision))
        ++length;
    if (!spec.leftAlign)
        PutPadding(sink, L' ', spec.width - length);
    for (int i = 0; i < length; ++i)
        Put(sink, text[i]);
    if (spec.leftAlign)
        PutPadding(sink, L' ', spec.width - length);
}

void PutNarrowText(Sink& sink, const Spec& spec, const char* text)
{
    if (!text)
        text = "(null)";
    int length = 0;
    while (text[length] && (spec.precision < 0 || length < spec.precision))
        ++length;
    if (!spec.leftAlign)
        PutPadding(sink, L' ', spec.width - length);
    for (int i = 0; i < length; ++i)
        Put(sink, static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    if (spec.leftAlign)
        PutPadding(sink, L' ', spec.width - length);
}

void PutNumber(Sink& sink, const Spec& spec, uint64_t magnitude, bool negative, unsigned base, bool upper)
{
    wchar_t digits[24];
    int count = 0;
    const wchar_t* alphabet = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    do {
        digits[count++] = alphabet[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    if (spec.precision == 0 && count == 1 && digits[0] == L'0')
        count = 0;
    wchar_t sign = negative ? L'-' : spec.plusSign ? L'+' : spec.spaceSign ? L' ' : 0;
    int zeros = spec.precision > count ? spec.precision - count : 0;
    int body = count + zeros + (sign ? 1 : 0);
    bool padWithZeros = spec.zeroPad && !spec.leftAlign && spec.precision < 0;
    if (!spec.leftAlign && !padWithZeros)
        PutPadding(sink, L' ', spec.width - body);
    if (sign)
        Put(sink, sign);
    if (padWithZeros)
        PutPadding(sink, L'0', spec.width - body);
    PutPadding(sink, L'0', zeros);
    while (count)
        Put(sink, digits[--count]);
    if (spec.leftAlign)
        PutPadding(sink, L' ', spec.width - body);
}

const wchar_t* ReadSpec(const wchar_t* p, Spec& spec, va_list& args)
{
    spec = Spec{false, false, false, false, 0, -1, Spec::kDefault};
    for (;; ++p) {
        if (*p == L'-') spec.leftAlign = true;
        else if (*p == L'0') spec.zeroPad = true;
        else if (*p == L'+') spec.plusSign = true;
        else if (*p == L' ') spec.spaceSign = true;
        else if (*p == L'#') {}
        else break;
    }
    if (*p == L'*') {
        spec.width = va_arg(args, int);
        if (spec.width < 0) {
            spec.leftAlign = true;
            spec.width = -spec.width;
        }
        ++p;
    } else {
        while (*p >= L'0' && *p <= L'9' && spec.width < 100000)
            spec.width = spec.width * 10 + (*p++ - L'0');
    }
    if (*p == L'.') {
        ++p;
        spec.precision = 0;
        if (*p == L'*') {
            spec.precision = va_arg(args, int);
            ++p;
        } else {
            while (*p >= L'0' && *p <= L'9' && spec.precision < 100000)
                spec.precision = spec.precision * 10 + (*p++ - L'0');
        }
    }
    if (*p == L'h') { spec.size = Spec::kShort; ++p; }
    else if (*p == L'l' && p[1] == L'l') { spec.size = Spec::kLongLong; p += 2; }
    else if (*p == L'l' || *p == L'w') { spec.size = Spec::kLong; ++p; }
    else if (*p == L'I' && p[1] == L'6' && p[2] == L'4') { spec.size = Spec::kLongLong; p += 3; }
    else if (*p == L'z' || *p == L'I') { spec.size = Spec::kLongLong; ++p; }
    return p;
}

} // namespace

size_t FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, va_list args)
{
    Sink sink{out, capacity, 0};
    va_list rest;
    va_copy(rest, args);
    for (const wchar_t* p = format ? format : L""; *p; ++p) {
        if (*p != L'%') {
            Put(sink, *p);
            continue;
        }
        Spec spec;
        p = ReadSpec(p + 1, spec, rest);
        switch (*p) {
        case L'%':
            Put(sink, L'%');
            break;
        case L's':
            if (spec.size == Spec::kShort)
                PutNarrowText(sink, spec, va_arg(rest, const char*));
            else
                PutWideText(sink, spec, va_arg(rest, const wchar_t*));
            break;
        case L'S':
            if (spec.size == Spec::kLong)
                PutWideText(sink, spec, va_arg(rest, const wchar_t*));
            else
                PutNarrowText(sink, spec, va_arg(rest, const char*));
            break;
        case L'c': {
            wchar_t text[2] = {static_cast<wchar_t>(va_arg(rest, int)), 0};
            PutWideText(sink, spec, text);
            break;
        }
        case L'd':
        case L'i': {
            int64_t value = spec.size == Spec::kLongLong ? va_arg(rest, long long) : va_arg(rest, int);
            if (spec.size == Spec::kShort)
                value = static_cast<short>(value);
            uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            PutNumber(sink, spec, magnitude, value < 0, 10, false);
            break;
        }
        case L'u':
        case L'x':
        case L'X': {
            uint64_t value = spec.size == Spec::kLongLong ? va_arg(rest, unsigned long long)
                                                          : va_arg(rest, unsigned int);
            if (spec.size == Spec::kShort)
                value = static_cast<unsigned short>(value);
            Spec unsignedSpec = spec;
            unsignedSpec.plusSign = unsignedSpec.spaceSign = false;
            PutNumber(sink, unsignedSpec, value, false, *p == L'u' ? 10 : 16, *p == L'X');
            break;
        }
        case L'p': {
            Spec pointerSpec = spec;
            pointerSpec.precision = 16;
            PutNumber(sink, pointerSpec, reinterpret_cast<uintptr_t>(va_arg(rest, void*)), false, 16, true);
            break;
        }
        case 0:
            --p; // a lone '%' at the end prints nothing
            break;
        default:
            Put(sink, *p);
            break;
        }
    }
    va_end(rest);
    if (capacity)
        out[sink.length < capacity ? sink.length : capacity - 1] = 0;
    return sink.length;
}

unsigned BoundedFormatV(wchar_t* field, size_t capacity, const wchar_t* format, va_list args)
{
    if (capacity == 0 || capacity > 2147483647u)
        return kFormatBadCapacity;
    size_t needed = FormatWide(field, capacity, format, args);
    return needed < capacity ? kFormatOk : kFormatCut;
}

unsigned BoundedFormat(wchar_t* field, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    unsigned result = BoundedFormatV(field, capacity, format, args);
    va_end(args);
    return result;
}
