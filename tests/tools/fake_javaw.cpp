// Stands in for the runtime's javaw: appends its whole command line and its arguments, as
// CommandLineToArgvW splits them, to javaw-record.txt beside itself (or to the file named by
// FAKE_JAVAW_RECORD), UTF-8, then ends with exit code 0.
#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <stdio.h>

static void WriteUtf8(FILE* file, const wchar_t* text)
{
    char buffer[16384];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (length > 0)
        fwrite(buffer, 1, length - 1, file);
}

int main()
{
    wchar_t record[MAX_PATH] = {};
    DWORD named = GetEnvironmentVariableW(L"FAKE_JAVAW_RECORD", record, MAX_PATH);
    if (named == 0 || named >= MAX_PATH) {
        GetModuleFileNameW(nullptr, record, MAX_PATH);
        PathRemoveFileSpecW(record);
        PathAppendW(record, L"javaw-record.txt");
    }
    FILE* file = _wfopen(record, L"ab");
    if (!file)
        return 1;
    const wchar_t* line = GetCommandLineW();
    fputs("CMDLINE\t", file);
    WriteUtf8(file, line);
    fputs("\n", file);
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line, &count);
    for (int i = 0; arguments && i < count; ++i) {
        fputs("ARG\t", file);
        WriteUtf8(file, arguments[i]);
        fputs("\n", file);
    }
    fputs("END\n", file);
    fclose(file);
    if (arguments)
        LocalFree(arguments);
    return 0;
}
