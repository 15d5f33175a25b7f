// The diagnostic log: one time-stamped, 8-bit line at a time appended to DesktopLauncher.log,
// opening and closing the file for each line so the file is complete after every line.
#pragma once

#include <stddef.h>

enum : int {
    kLogTimeCapacity = 100,
    kLogLineCapacity = 4096,
    kLogSystemErrorCapacity = 4096,
    kLogPrintfCapacity = 5096,
};

void LogLine(const wchar_t* text);
void LogSystemError(unsigned long code, const wchar_t* context);
void LogPrintf(const wchar_t* format, ...);

// Builds the bytes of one log line "time: text\r\n" into out (outSize bytes, terminator included).
// Characters above U+00FF become '?'; a text too long for the line is cut so the line end stays.
// Returns the number of bytes written, terminator excluded.
size_t ComposeLogLine(const wchar_t* time, const wchar_t* text, char* out, size_t outSize);
