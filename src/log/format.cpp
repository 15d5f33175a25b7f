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

struct Directive {
    bool leftAlign;
    bool zeroPad;
    bool plusSign;
    bool spaceSign;
    int width;
    int precision; // -1: none
    enum { kDefault, kShort, kLong, kLongLong } size;
};

void PutWideText(Sink& sink, const Directive& directive, const wchar_t* text)
{
    if (!text)
        text = L"(null)";
    int length = 0;
    while (text[length] && (directive.precision < 0 || length < directive.precision))
        ++length;
    if (!directive.leftAlign)
        PutPadding(sink, L' ', directive.width - length);
    for (int i = 0; i < length; ++i)
        Put(sink, text[i]);
    if (directive.leftAlign)
        PutPadding(sink, L' ', directive.width - length);
}

void PutNarrowText(Sink& sink, const Directive& directive, const char* text)
{
    if (!text)
        text = "(null)";
    int length = 0;
    while (text[length] && (directive.precision < 0 || length < directive.precision))
        ++length;
    if (!directive.leftAlign)
        PutPadding(sink, L' ', directive.width - length);
    for (int i = 0; i < length; ++i)
        Put(sink, static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    if (directive.leftAlign)
        PutPadding(sink, L' ', directive.width - length);
}

void PutNumber(Sink& sink, const Directive& directive, uint64_t magnitude, bool negative, unsigned base, bool upper)
{
    wchar_t digits[24];
    int count = 0;
    const wchar_t* alphabet = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    do {
        digits[count++] = alphabet[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    if (directive.precision == 0 && count == 1 && digits[0] == L'0')
        count = 0;
    wchar_t sign = negative ? L'-' : directive.plusSign ? L'+' : directive.spaceSign ? L' ' : 0;
    int zeros = directive.precision > count ? directive.precision - count : 0;
    int body = count + zeros + (sign ? 1 : 0);
    bool padWithZeros = directive.zeroPad && !directive.leftAlign && directive.precision < 0;
    if (!directive.leftAlign && !padWithZeros)
        PutPadding(sink, L' ', directive.width - body);
    if (sign)
        Put(sink, sign);
    if (padWithZeros)
        PutPadding(sink, L'0', directive.width - body);
    PutPadding(sink, L'0', zeros);
    while (count)
        Put(sink, digits[--count]);
    if (directive.leftAlign)
        PutPadding(sink, L' ', directive.width - body);
}

const wchar_t* ReadDirective(const wchar_t* p, Directive& directive, va_list& args)
{
    directive = Directive{false, false, false, false, 0, -1, Directive::kDefault};
    for (;; ++p) {
        if (*p == L'-') directive.leftAlign = true;
        else if (*p == L'0') directive.zeroPad = true;
        else if (*p == L'+') directive.plusSign = true;
        else if (*p == L' ') directive.spaceSign = true;
        else if (*p == L'#') {}
        else break;
    }
    if (*p == L'*') {
        directive.width = va_arg(args, int);
        if (directive.width < 0) {
            directive.leftAlign = true;
            directive.width = -directive.width;
        }
        ++p;
    } else {
        while (*p >= L'0' && *p <= L'9' && directive.width < 100000)
            directive.width = directive.width * 10 + (*p++ - L'0');
    }
    if (*p == L'.') {
        ++p;
        directive.precision = 0;
        if (*p == L'*') {
            directive.precision = va_arg(args, int);
            ++p;
        } else {
            while (*p >= L'0' && *p <= L'9' && directive.precision < 100000)
                directive.precision = directive.precision * 10 + (*p++ - L'0');
        }
    }
    if (*p == L'h') { directive.size = Directive::kShort; ++p; }
    else if (*p == L'l' && p[1] == L'l') { directive.size = Directive::kLongLong; p += 2; }
    else if (*p == L'l' || *p == L'w') { directive.size = Directive::kLong; ++p; }
    else if (*p == L'I' && p[1] == L'6' && p[2] == L'4') { directive.size = Directive::kLongLong; p += 3; }
    else if (*p == L'z' || *p == L'I') { directive.size = Directive::kLongLong; ++p; }
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
        Directive directive;
        p = ReadDirective(p + 1, directive, rest);
        switch (*p) {
        case L'%':
            Put(sink, L'%');
            break;
        case L's':
            if (directive.size == Directive::kShort)
                PutNarrowText(sink, directive, va_arg(rest, const char*));
            else
                PutWideText(sink, directive, va_arg(rest, const wchar_t*));
            break;
        case L'S':
            if (directive.size == Directive::kLong)
                PutWideText(sink, directive, va_arg(rest, const wchar_t*));
            else
                PutNarrowText(sink, directive, va_arg(rest, const char*));
            break;
        case L'c': {
            wchar_t text[2] = {static_cast<wchar_t>(va_arg(rest, int)), 0};
            PutWideText(sink, directive, text);
            break;
        }
        case L'd':
        case L'i': {
            int64_t value = directive.size == Directive::kLongLong ? va_arg(rest, long long) : va_arg(rest, int);
            if (directive.size == Directive::kShort)
                value = static_cast<short>(value);
            uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            PutNumber(sink, directive, magnitude, value < 0, 10, false);
            break;
        }
        case L'u':
        case L'x':
        case L'X': {
            uint64_t value = directive.size == Directive::kLongLong ? va_arg(rest, unsigned long long)
                                                          : va_arg(rest, unsigned int);
            if (directive.size == Directive::kShort)
                value = static_cast<unsigned short>(value);
            Directive unsignedDirective = directive;
            unsignedDirective.plusSign = unsignedDirective.spaceSign = false;
            PutNumber(sink, unsignedDirective, value, false, *p == L'u' ? 10 : 16, *p == L'X');
            break;
        }
        case L'p': {
            Directive pointerDirective = directive;
            pointerDirective.precision = 16;
            PutNumber(sink, pointerDirective, reinterpret_cast<uintptr_t>(va_arg(rest, void*)), false, 16, true);
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

unsigned BoundedAppend(wchar_t* field, size_t capacity, const wchar_t* text)
{
    if (capacity == 0 || capacity > 2147483647u)
        return kFormatBadCapacity;
    size_t length = 0;
    while (length < capacity && field[length])
        ++length;
    if (length == capacity)
        return kFormatBadCapacity;
    return BoundedFormat(field + length, capacity - length, L"%s", text ? text : L"");
}
