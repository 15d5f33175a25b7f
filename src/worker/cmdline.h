// Quoting of one value for a Windows command line, so that CommandLineToArgvW and the C runtime
// hand it to the started program as exactly one argument, byte for byte.
#pragma once

#include <stddef.h>

// Appends the quoted value to out (capacity characters, terminator included) behind what out
// already holds. A double quote inside is written \", and every run of backslashes before a
// double quote, the closing one included, is doubled. Returns false when it did not fit; out
// then keeps its former text.
bool AppendQuotedArgument(wchar_t* out, size_t capacity, const wchar_t* value);
