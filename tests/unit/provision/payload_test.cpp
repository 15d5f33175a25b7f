#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "provision/payload.h"

namespace {

std::vector<unsigned char> ReadWholeFile(const wchar_t* path)
{
    std::vector<unsigned char> bytes;
    FILE* file = _wfopen(path, L"rb");
    if (!file)
        return bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back(static_cast<unsigned char>(c));
    fclose(file);
    return bytes;
}

} // namespace

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
    std::vector<unsigned char> properties = ReadWholeFile(launcherState.propertyFilePath);
    std::string text(properties.begin(), properties.end());
    EXPECT_EQ(PayloadDataLength(propertyFilePayload), properties.size());
    EXPECT_EQ(0u, text.find("# prod property file\n#\n# hostname for initial jre, https is used\nhostname="));
    std::vector<unsigned char> jar = ReadWholeFile(launcherState.launcherJarPath);
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
