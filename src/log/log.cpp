#include "log/log.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

#include "base/state.h"
#include "log/format.h"

namespace {

char ToLatin1(wchar_t c)
{
    return c <= 0xFF ? static_cast<char>(c) : '?';
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Appends text converted to 8 bits; stops when limit bytes are reached.
size_t AppendLatin1(const wchar_t* text, char* out, size_t used, size_t limit)
{
    for (const wchar_t* p = text ? text : L"(null)"; *p && used < limit; ++p) {
        out[used++] = ToLatin1(*p);
        if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1]))
            ++p; // one character, one '?'
    }
    return used;
}

} // namespace

size_t ComposeLogLine(const wchar_t* time, const wchar_t* text, char* out, size_t outSize)
{
    if (outSize < 3) {
        if (outSize)
            out[0] = 0;
        return 0;
    }
    // Room for the text: what the buffer holds less the terminator and the line end.
    size_t limit = outSize - 3;
    size_t used = AppendLatin1(time, out, 0, limit);
    used = AppendLatin1(L": ", out, used, limit);
    used = AppendLatin1(text, out, used, limit);
    out[used++] = '\r';
    out[used++] = '\n';
    out[used] = 0;
    return used;
}

void LogLine(const wchar_t* text)
{
    wchar_t time[kLogTimeCapacity];
    if (GetTimeFormatW(LOCALE_CUSTOM_DEFAULT, TIME_FORCE24HOURFORMAT, nullptr, nullptr, time, kLogTimeCapacity) <= 0)
        return;
    // The line holds at most 4095 characters like the wide line buffer it stands for.
    char line[kLogLineCapacity];
    size_t length = ComposeLogLine(time, text, line, sizeof line);

    HANDLE file = CreateFileW(launcherState.logFilePath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

void LogSystemError(unsigned long code, const wchar_t* context)
{
    wchar_t* systemText = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                   reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
    wchar_t line[kLogSystemErrorCapacity] = {};
    BoundedFormat(line, kLogSystemErrorCapacity, L"Fehler %d: %s", static_cast<int>(code), context);
    LogLine(line);
    if (systemText)
        LocalFree(systemText);
}

void LogPrintf(const wchar_t* format, ...)
{
    wchar_t text[kLogPrintfCapacity];
    va_list args;
    va_start(args, format);
    BoundedFormatV(text, kLogPrintfCapacity, format, args);
    va_end(args);
    fputws(text, stdout);
    fflush(stdout);
    LogLine(text);
}
