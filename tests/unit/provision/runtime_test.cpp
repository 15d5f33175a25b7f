#include <gtest/gtest.h>

#include <windows.h>

#include <shlwapi.h>

#include <string>

#include "base/state.h"
#include "log/format.h"
#include "provision/runtime.h"
#include "test_helpers.h"
#include "version_texts.h"

namespace {

int VersionOf(const std::string& bytes)
{
    std::wstring path = TempFolder(L"runtime-test") + L"\\version.txt";
    WriteWholeFile(path, bytes);
    int value = ReadVersionNumber(path.c_str());
    DeleteFileW(path.c_str());
    return value;
}

// The test tools sit in tools/ beside the folder of the unit test program.
std::wstring ToolPath(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    PathRemoveFileSpecW(path);
    PathRemoveFileSpecW(path);
    PathAppendW(path, L"tools");
    PathAppendW(path, name);
    return path;
}

std::string Le32(unsigned value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

// A cache folder of its own, with the log written into it.
std::wstring PrepareCache(const wchar_t* name)
{
    ResetLauncherState();
    std::wstring cache = TempFolder(name);
    BoundedFormat(launcherState.cacheFolder, kPathCapacity, L"%s", cache.c_str());
    BoundedFormat(launcherState.runtimePackFile, kPathCapacity, L"%s\\jre_pack.exe", cache.c_str());
    // The extractor's own folder is the cache folder itself here.
    BoundedFormat(launcherState.stagingFolder, kPathCapacity, L"%s", cache.c_str());
    BoundedFormat(launcherState.stagedPackFile, kPathCapacity, L"%s", launcherState.runtimePackFile);
    BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s\\test.log", cache.c_str());
    DeleteFileW(launcherState.logFilePath);
    return cache;
}

void RemoveDemoRuntime(const std::wstring& cache)
{
    for (const wchar_t* file : {L"\\jre\\bin\\javaw.exe", L"\\jre\\release", L"\\jre\\lib\\demo.txt",
                                L"\\jre\\lib\\pack-record.txt"})
        DeleteFileW((cache + file).c_str());
    RemoveDirectoryW((cache + L"\\jre\\bin").c_str());
    RemoveDirectoryW((cache + L"\\jre\\lib").c_str());
    RemoveDirectoryW((cache + L"\\jre").c_str());
}

} // namespace

TEST(ReadVersionNumber, ConvertsTheStartOfRealFiles)
{
    for (const VersionText& c : VersionTexts())
        EXPECT_EQ(c.number, VersionOf(c.text)) << c.text.substr(0, 40);
}

TEST(ReadVersionNumber, ReadsOnlyTheFirst500BytesOfAFile)
{
    // Reads of 100 bytes each stop once 500 bytes are in: what lies behind byte 500 is never seen.
    EXPECT_EQ(7, VersionOf(std::string(499, ' ') + "78"));
    EXPECT_EQ(12345, VersionOf(std::string(495, '\n') + "123456789"));
    EXPECT_EQ(0, VersionOf(std::string(500, ' ') + "5"));
    EXPECT_EQ(0, VersionOf(std::string(590, ' ') + std::string(20, '1')));
    // Digits running on past byte 599 come out clamped, not wrapped.
    EXPECT_EQ(2147483647, VersionOf(std::string(480, ' ') + std::string(200, '9')));
    EXPECT_EQ(123456789, VersionOf(std::string(491, ' ') + "123456789" + std::string(200, '0')));
}

TEST(ReadVersionNumber, MissingFileOrFolderIsMinusOne)
{
    std::wstring folder = TempFolder(L"runtime-test");
    EXPECT_EQ(-1, ReadVersionNumber((folder + L"\\no-such-version.txt").c_str()));
    std::wstring subfolder = folder + L"\\version-folder.txt";
    CreateDirectoryW(subfolder.c_str(), nullptr);
    EXPECT_EQ(-1, ReadVersionNumber(subfolder.c_str()));
    RemoveDirectoryW(subfolder.c_str());
}

TEST(RuntimePackPresent, NeedsAReadableNonEmptyFile)
{
    std::wstring cache = PrepareCache(L"runtime-test-pack");
    DeleteFileW(launcherState.runtimePackFile);
    EXPECT_FALSE(RuntimePackPresent());
    WriteWholeFile(launcherState.runtimePackFile, "");
    EXPECT_FALSE(RuntimePackPresent());
    WriteWholeFile(launcherState.runtimePackFile, "M");
    EXPECT_TRUE(RuntimePackPresent());
    DeleteFileW(launcherState.runtimePackFile);
    CreateDirectoryW(launcherState.runtimePackFile, nullptr);
    EXPECT_FALSE(RuntimePackPresent());
    RemoveDirectoryW(launcherState.runtimePackFile);
}

TEST(RunExtract, NoPackStartsNothingAndLogsNothing)
{
    PrepareCache(L"runtime-test-nopack");
    DeleteFileW(launcherState.runtimePackFile);
    EXPECT_EQ(0, RunExtract());
    WriteWholeFile(launcherState.runtimePackFile, "");
    EXPECT_EQ(0, RunExtract()) << "an empty pack";
    EXPECT_FALSE(launcherState.extracting);
    EXPECT_EQ("", ReadWholeFile(launcherState.logFilePath));
}

TEST(RunExtract, APackThatCannotBeStartedLogsOneErrorAndClearsExtracting)
{
    PrepareCache(L"runtime-test-badpack");
    WriteWholeFile(launcherState.runtimePackFile, "this is not a program");
    launcherState.extracting = FALSE;
    EXPECT_EQ(0, RunExtract());
    EXPECT_FALSE(launcherState.extracting);
    std::string log = ReadWholeFile(launcherState.logFilePath);
    std::string pack(launcherState.runtimePackFile, launcherState.runtimePackFile + wcslen(launcherState.runtimePackFile));
    EXPECT_NE(std::string::npos, log.find(": \"" + pack + "\" -y\r\n"));
    EXPECT_NE(std::string::npos, log.find(": Fehler "));
    EXPECT_NE(std::string::npos, log.find(": RunExtract: Java JRE konnte nicht entpackt werden\r\n"));
    DeleteFileW(launcherState.runtimePackFile);
}

TEST(RunExtract, UnpacksInTheCacheFolderAndReportsTheExitCode)
{
    std::string demo = ReadWholeFile(ToolPath(L"demo_pack.exe"));
    std::string javaw = ReadWholeFile(ToolPath(L"fake_javaw.exe"));
    if (demo.empty() || javaw.empty())
        GTEST_SKIP() << "the test tools are not built";
    std::wstring cache = PrepareCache(L"runtime-test-extract");
    RemoveDemoRuntime(cache);

    std::string body = demo + javaw + Le32(unsigned(javaw.size())) + Le32(0);
    WriteWholeFile(launcherState.runtimePackFile, body + Le32(0) + Le32(0) + "ZXPACK01");
    EXPECT_EQ(1, RunExtract());
    EXPECT_FALSE(launcherState.extracting);
    EXPECT_EQ(javaw, ReadWholeFile(cache + L"\\jre\\bin\\javaw.exe"));
    std::string record = ReadWholeFile(cache + L"\\jre\\lib\\pack-record.txt");
    std::string cacheText(cache.begin(), cache.end());
    EXPECT_NE(std::string::npos, record.find(" -y\n")) << record;
    EXPECT_NE(std::string::npos, record.find("CWD\t" + cacheText)) << record;
    EXPECT_EQ(std::string::npos, ReadWholeFile(launcherState.logFilePath).find("Exitcode"));
    RemoveDemoRuntime(cache);

    // A pack that unpacked everything but failed: the run does not count as complete.
    WriteWholeFile(launcherState.runtimePackFile, body + Le32(7) + Le32(0) + "ZXPACK01");
    EXPECT_EQ(0, RunExtract());
    EXPECT_FALSE(launcherState.extracting);
    EXPECT_NE(std::string::npos, ReadWholeFile(launcherState.logFilePath)
                                     .find(": RunExtract: Java JRE nicht vollst\xe4ndig entpackt, Exitcode 7\r\n"));
    RemoveDemoRuntime(cache);
    DeleteFileW(launcherState.runtimePackFile);
}
