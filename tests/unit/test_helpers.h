// What the unit tests share: wide text from bytes, the real Windows splitting of a command line,
// and temporary files. Each test file includes this instead of keeping copies of its own.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <string>
#include <vector>

// Each byte becomes the 16-bit unit of the same value, as the program's readers widen 8-bit text.
inline std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    for (unsigned char c : text)
        wide += static_cast<wchar_t>(c);
    return wide;
}

// The arguments of a command line as the real CommandLineToArgvW gives them, program name first;
// none when it refuses the line.
inline std::vector<std::wstring> SplitCommandLine(const wchar_t* line)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line, &count);
    std::vector<std::wstring> result;
    if (arguments)
        result.assign(arguments, arguments + count);
    LocalFree(arguments);
    return result;
}

inline std::vector<std::wstring> SplitCommandLine(const std::wstring& line)
{
    return SplitCommandLine(line.c_str());
}

// A path of that name in the user's temporary folder.
inline std::wstring TempPath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// A folder of that name in the user's temporary folder, made when missing.
inline std::wstring TempFolder(const std::wstring& name)
{
    std::wstring folder = TempPath(name);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// Replaces the file with exactly these bytes; a file that cannot be written fails the test.
inline void WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) {
        ADD_FAILURE() << "cannot write " << testing::PrintToString(path);
        return;
    }
    EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), file));
    fclose(file);
}

// The bytes of the file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::wstring& path)
{
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    char block[65536];
    size_t count;
    while ((count = fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, count);
    fclose(file);
    return bytes;
}

// An environment variable's value; empty when it is not set.
inline std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[32768] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length ? value : L"";
}
