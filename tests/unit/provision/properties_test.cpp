#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/state.h"
#include "provision/properties.h"
#include "test_helpers.h"

namespace {

// Writes the bytes to a temporary file, points propertyFilePath at it and reads it.
void ReadProperties(const std::string& bytes)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"prp", 0, launcherState.propertyFilePath);
    WriteWholeFile(launcherState.propertyFilePath, bytes);
    EXPECT_EQ(0, ReadLauncherProperties());
    DeleteFileW(launcherState.propertyFilePath);
}

void ResetDefaults()
{
    ResetLauncherState();
    wcscpy(launcherState.downloadHost, L"default.host");
    wcscpy(launcherState.versionUrlPath, L"/v");
    wcscpy(launcherState.runtimePackUrlPath, L"/p");
}

} // namespace

TEST(PropertyFile, RecognisedKeysSetTheirFieldsAndTheLaterLineWins)
{
    ResetDefaults();
    ReadProperties("# comment\r\n\r\nhostname=first\r\nhostname=second.host\r\n"
                   "versionDownloadPath=/a=b \r\nresourceDownloadPath=/pack.exe");
    EXPECT_STREQ(L"second.host", launcherState.downloadHost);
    EXPECT_STREQ(L"/a=b ", launcherState.versionUrlPath);
    EXPECT_STREQ(L"/pack.exe", launcherState.runtimePackUrlPath);
    EXPECT_FALSE(launcherState.forceDownload);
}

TEST(PropertyFile, ForceDownloadNeedsTheExactBeginning)
{
    for (const char* nearMiss : {"FORCEDOWNLOAD=true\n", " forcedownload=true\n", "forcedownload=false\n",
                                 "forcedownload=tru\n", "#forcedownload=true\n"}) {
        ResetDefaults();
        ReadProperties(nearMiss);
        EXPECT_FALSE(launcherState.forceDownload) << nearMiss;
    }
    ResetDefaults();
    ReadProperties("forcedownload=trueish\n");
    EXPECT_TRUE(launcherState.forceDownload);
}

TEST(PropertyFile, EmptyValuesAndLongValuesAndMissingFiles)
{
    ResetDefaults();
    ReadProperties("hostname=");
    EXPECT_STREQ(L"", launcherState.downloadHost);

    ResetDefaults();
    ReadProperties("hostname=" + std::string(300, 'h') + "\n");
    EXPECT_EQ(std::wstring(259, L'h'), launcherState.downloadHost);

    ResetDefaults();
    wcscpy(launcherState.propertyFilePath, L"C:\\no\\such\\file.properties");
    EXPECT_NE(0, ReadLauncherProperties());
    EXPECT_STREQ(L"default.host", launcherState.downloadHost);
    EXPECT_STREQ(L"/v", launcherState.versionUrlPath);
}

TEST(PropertyFile, LongLinesArriveInPiecesOf1999Characters)
{
    ResetDefaults();
    std::string line = "#" + std::string(1998, 'c') + "hostname=piece.host" + std::string(82, 'x');
    ReadProperties(line + "\n");
    EXPECT_EQ(L"piece.host" + std::wstring(82, L'x'), launcherState.downloadHost);
}
