// Quoting of one value for a Windows command line, so that CommandLineToArgvW and the C runtime
// hand it to the started program as exactly one argument, byte for byte. Standard headers only:
// this also builds natively for fuzzing. A pure text rule in the bottom room: the Java start and the
// proxy arguments both use it.
#pragma once

#include <stddef.h>

// Writes the value enclosed in double quotes into out (capacity characters, terminator
// included). A double quote inside is written \", every run of backslashes before a double
// quote, the closing one included, is doubled; other backslashes stay as they are. A value
// without quotes and trailing backslashes comes out as "value". When it does not fit, out holds
// the longest prefix that ends between two escape units (never half of \"; a doubled run of
// backslashes may be cut, so a cut value is not for use on a command line),
// always terminated. Returns the full length the quoted value needs, terminator excluded; it fit
// when the result is below capacity. A null value counts as empty.
size_t QuoteCommandLineArgument(const wchar_t* value, wchar_t* out, size_t capacity);

// Appends the quoted value to out (capacity characters, terminator included) behind what out
// already holds. Returns false when it did not fit; out then keeps its former text.
bool AppendQuotedArgument(wchar_t* out, size_t capacity, const wchar_t* value);
