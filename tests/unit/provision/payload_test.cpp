#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/state.h"
#include "provision/payload.h"
#include "test_helpers.h"

TEST(Payload, RecordsCarryTheirTagsAndBigEndianLengths)
{
    const unsigned char propertyTag[] = {0x01, 0x13, 0x01, 0x14, 0x18, 0x07, 0x07, 0x07};
    const unsigned char jarTag[] = {0x01, 0x13, 0x01, 0x14, 0x19, 0x07, 0x07, 0x07};
    EXPECT_EQ(0, memcmp(propertyTag, propertyFilePayload, 8));
    EXPECT_EQ(0, memcmp(jarTag, launcherJarPayload, 8));
    const unsigned char record[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x03, 0x01, 0xE8};
    EXPECT_EQ(197096u, PayloadDataLength(record));
    EXPECT_LE(PayloadDataLength(launcherJarPayload), kLauncherJarBlockSize - kPayloadHeaderSize);
}

TEST(Payload, ThawFileWritesTheDataBytesToNewTempFiles)
{
    ResetLauncherState();
    ASSERT_EQ(1, ThawFile(kPropertyFilePayload));
    ASSERT_EQ(1, ThawFile(kLauncherJarPayload));
    std::string text = ReadWholeFile(launcherState.propertyFilePath);
    EXPECT_EQ(PayloadDataLength(propertyFilePayload), text.size());
    EXPECT_EQ(0u, text.find("# prod property file\n#\n# hostname for initial jre, https is used\nhostname="));
    std::string jar = ReadWholeFile(launcherState.launcherJarPath);
    ASSERT_EQ(PayloadDataLength(launcherJarPayload), jar.size());
    EXPECT_EQ(0, memcmp(launcherJarPayload + kPayloadHeaderSize, jar.data(), jar.size()));
    EXPECT_EQ('P', jar[0]);
    EXPECT_NE(std::wstring(launcherState.propertyFilePath), launcherState.launcherJarPath);
    DeleteFileW(launcherState.propertyFilePath);
    DeleteFileW(launcherState.launcherJarPath);
}

TEST(Payload, TestModeWritesNothingAndKeepsTheGivenPaths)
{
    ResetLauncherState();
    launcherState.testMode = TRUE;
    wcscpy(launcherState.propertyFilePath, L"given.properties");
    EXPECT_EQ(1, ThawFile(kPropertyFilePayload));
    EXPECT_EQ(1, ThawFile(kLauncherJarPayload));
    EXPECT_STREQ(L"given.properties", launcherState.propertyFilePath);
    EXPECT_STREQ(L"", launcherState.launcherJarPath);
}

TEST(Payload, RecordClaimingMoreThanItsBlockGivesNoData)
{
    // Tag, a length of 5 and four data bytes: one byte short, so the fifth would come from
    // whatever lies behind the block.
    const unsigned char block[16] = {0x01, 0x13, 0x01, 0x14, 0x18, 0x07, 0x07, 0x07, 0, 0, 0, 5, 'a', 'b', 'c', 'd'};
    size_t length = 99;
    EXPECT_EQ(nullptr, PayloadRecordData(block, sizeof block, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(nullptr, PayloadRecordData(block, 11, &length));
    const unsigned char fits[16] = {0x01, 0x13, 0x01, 0x14, 0x18, 0x07, 0x07, 0x07, 0, 0, 0, 4, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(fits + 12, PayloadRecordData(fits, sizeof fits, &length));
    EXPECT_EQ(4u, length);
    EXPECT_NE(nullptr, PayloadRecordData(propertyFilePayload, kPropertyFileBlockSize, &length));
    EXPECT_EQ(PayloadDataLength(propertyFilePayload), length);
}

TEST(Payload, AnUnusableTemporaryFolderSendsThePayloadsToTheLauncherFolder)
{
    std::wstring savedTmp = EnvironmentValue(L"TMP"), savedTemp = EnvironmentValue(L"TEMP");
    std::wstring base = TempPath(L"payload_base_4711");
    CreateDirectoryW(base.c_str(), nullptr);
    std::wstring log = base + L"\\DesktopLauncher.log";
    std::wstring tooLong = L"C:\\" + std::wstring(300, L't');
    std::wstring missing = TempPath(L"no-such-temp-4711");
    const std::pair<std::wstring, const char*> cases[] = {{tooLong, "GetTempPath failed"},
                                                          {missing, "GetTempFileName failed"}};
    for (const auto& [folder, failure] : cases) {
        ResetLauncherState();
        wcscpy(launcherState.logFilePath, log.c_str());
        DeleteFileW(log.c_str());
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        ASSERT_EQ(1, ThawFile(kPropertyFilePayload));
        std::wstring path = launcherState.propertyFilePath;
        EXPECT_EQ(0u, path.find(base + L"\\TPL")) << failure;
        EXPECT_EQ(PayloadDataLength(propertyFilePayload), ReadWholeFile(path).size());
        std::string lines = ReadWholeFile(log);
        EXPECT_NE(std::string::npos, lines.find(std::string(": ThawFile: ") + failure + "\r\n")) << lines;
        EXPECT_NE(std::string::npos, lines.find(": ThawFile: Datei im Ordner ")) << lines;
        DeleteFileW(path.c_str());

        // Without a launcher folder either, the step fails as before.
        launcherState.logFilePath[0] = 0;
        launcherState.launcherJarPath[0] = 0;
        EXPECT_EQ(0, ThawFile(kLauncherJarPayload));
    }
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    SetEnvironmentVariableW(L"TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
    DeleteFileW(log.c_str());
    RemoveDirectoryW(base.c_str());
    ResetLauncherState();
}
