// Bounded wide-text formatting with the Windows printf rules every fixed text field relies on:
// "%s" takes a wide text, "%S"/"%hs" a narrow one, an absent text prints "(null)", and a result
// that does not fit is cut at capacity - 1 characters and always terminated.
#pragma once

#include <stdarg.h>
#include <stddef.h>

enum : unsigned {
    kFormatOk = 0,
    kFormatCut = 0x8007007A,         // insufficient buffer
    kFormatBadCapacity = 0x80070057, // invalid argument
};

// Formats into field (capacity in characters, terminator included). Returns kFormatOk, kFormatCut
// or kFormatBadCapacity (nothing written).
unsigned BoundedFormat(wchar_t* field, size_t capacity, const wchar_t* format, ...);
unsigned BoundedFormatV(wchar_t* field, size_t capacity, const wchar_t* format, va_list args);

// Appends text (null counts as empty) behind what field already holds, with the same cut and
// results as BoundedFormat. A field without a terminator inside its capacity is left untouched
// and gives kFormatBadCapacity.
unsigned BoundedAppend(wchar_t* field, size_t capacity, const wchar_t* text);

// The formatting engine: writes at most capacity - 1 characters plus a terminator (nothing when
// capacity is 0) and returns the length the full result would have.
size_t FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);
