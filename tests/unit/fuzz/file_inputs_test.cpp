// Seeded random files through the readers that take them from outside: the property file, the
// version file and the payload record written to disk. Each run starts from the committed corpus.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/state.h"
#include "provision/payload.h"
#include "provision/properties.h"
#include "provision/runtime.h"
#include "seeds.h"
#include "test_helpers.h"

namespace {

// What the property file sets, by its rules: text mode (CR LF reads as LF, Ctrl-Z ends the
// file), pieces of at most 1999 characters, each recognised by its own beginning, the last
// line of a key winning, values cut at CR or LF and at 259 characters.
struct PropertyResult {
    bool forceDownload = false;
    std::string host = "default-host", versionPath = "default-version", packPath = "default-pack";
};

PropertyResult ExpectedProperties(const std::string& file)
{
    std::string text;
    for (size_t i = 0; i < file.size() && file[i] != '\x1a'; ++i)
        if (!(file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n'))
            text += file[i];
    PropertyResult result;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        size_t length = end == std::string::npos ? text.size() - at : end - at + 1;
        if (length > kPropertyLineCapacity - 1)
            length = kPropertyLineCapacity - 1;
        std::string piece = text.substr(at, length).c_str(); // the reader sees up to a zero byte
        at += length;
        struct {
            const char* key;
            std::string* field;
        } keys[] = {{"hostname=", &result.host},
                    {"versionDownloadPath=", &result.versionPath},
                    {"resourceDownloadPath=", &result.packPath}};
        if (piece.rfind("forcedownload=true", 0) == 0) {
            result.forceDownload = true;
            continue;
        }
        for (auto& key : keys) {
            if (piece.rfind(key.key, 0) == 0) {
                std::string value = piece.substr(strlen(key.key));
                value = value.substr(0, value.find_first_of("\r\n")).substr(0, kPathCapacity - 1);
                *key.field = value;
                break;
            }
        }
    }
    return result;
}

void SetField(wchar_t* field, const std::string& text)
{
    wcscpy(field, Widen(text).c_str());
}

// Runs the reader with its standard output trace sent nowhere.
int ReadPropertiesQuietly()
{
    fflush(stdout);
    int saved = _dup(1);
    int nowhere = _open("NUL", _O_WRONLY);
    _dup2(nowhere, 1);
    int result = ReadLauncherProperties();
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    _close(nowhere);
    return result;
}

// Hands every input of a seeded run to `check`, written to the file at `path` first. The run
// stops at the first failed assertion, so one fault is reported once.
template <typename Check>
void CheckSeededFiles(const char* target, unsigned seed, size_t maxSize, const std::wstring& path, Check check)
{
    SeededRun run = StartSeededRun(target, seed, FuzzRuns(20000) / 10);
    ASSERT_FALSE(run.seeds.empty()) << target;
    for (int i = 0; i < run.runs && !::testing::Test::HasFatalFailure(); ++i) {
        std::string file = SeededInput(run, i, maxSize);
        WriteWholeFile(path, file);
        check(i, file);
    }
    DeleteFileW(path.c_str());
}

} // namespace

TEST(RandomInputs, PropertyFilesSetWhatTheirLastKeyLinesSay)
{
    std::wstring path = TempPath(L"fuzz_properties.txt");
    CheckSeededFiles("properties", 4242, 6000, path, [&](int i, const std::string& file) {
        ResetLauncherState();
        wcscpy(launcherState.propertyFilePath, path.c_str());
        SetField(launcherState.downloadHost, "default-host");
        SetField(launcherState.versionUrlPath, "default-version");
        SetField(launcherState.runtimePackUrlPath, "default-pack");
        // The fields around the ones written must stay as they were.
        SetField(launcherState.runtimeSourceUrl, "canary-source");
        launcherState.localVersion = 0x5A5A5A5A;
        ASSERT_EQ(0, ReadPropertiesQuietly());

        PropertyResult expected = ExpectedProperties(file);
        ASSERT_EQ(expected.forceDownload, launcherState.forceDownload != FALSE) << i;
        ASSERT_EQ(Widen(expected.host), launcherState.downloadHost) << i;
        ASSERT_EQ(Widen(expected.versionPath), launcherState.versionUrlPath) << i;
        ASSERT_EQ(Widen(expected.packPath), launcherState.runtimePackUrlPath) << i;
        ASSERT_STREQ(L"canary-source", launcherState.runtimeSourceUrl) << i;
        ASSERT_EQ(0x5A5A5A5A, launcherState.localVersion) << i;
    });
}

TEST(RandomInputs, VersionFilesGiveTheNumberOfTheirFirst500Bytes)
{
    std::wstring path = TempPath(L"fuzz_version.txt");
    CheckSeededFiles("version", 1000, 1500, path, [&](int i, const std::string& file) {
        // Reads of 100 bytes from a file stop at 500 bytes; the text ends at a zero byte.
        std::string start = file.substr(0, 500).c_str();
        long long number = strtoll(start.c_str(), nullptr, 10);
        number = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : number;
        ASSERT_EQ(number, ReadVersionNumber(path.c_str())) << i << ": " << file.substr(0, 80);
    });
    EXPECT_EQ(-1, ReadVersionNumber(path.c_str()));
}

TEST(RandomInputs, PayloadRecordsWriteNoByteFromBehindTheirBlock)
{
    SeededRun run = StartSeededRun("payload", 12, FuzzRuns(20000) / 20);
    ASSERT_FALSE(run.seeds.empty());
    std::wstring path = TempPath(L"fuzz_payload.bin");
    for (int i = 0; i < run.runs; ++i) {
        std::string block = SeededInput(run, i, 4096);
        if (block.size() >= kPayloadHeaderSize && run.random() % 2) {
            // A length near the room the block has, on either side of it.
            uint32_t length = static_cast<uint32_t>(block.size() - kPayloadHeaderSize + run.random() % 5 - 2);
            for (int k = 0; k < 4; ++k)
                block[8 + k] = static_cast<char>(length >> (24 - 8 * k));
        }
        // Marked bytes behind the block stand for whatever the program image holds there.
        std::string memory = block + std::string(64, '\xEE');
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(memory.data());

        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        bool written = WritePayloadRecord(file, bytes, block.size());
        CloseHandle(file);

        bool fits = block.size() >= kPayloadHeaderSize &&
                    PayloadDataLength(bytes) <= block.size() - kPayloadHeaderSize;
        ASSERT_EQ(fits, written) << i;
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << i;
        std::string data = ReadWholeFile(path);
        ASSERT_EQ(fits ? block.substr(kPayloadHeaderSize, PayloadDataLength(bytes)) : std::string(), data) << i;
    }
    DeleteFileW(path.c_str());
}
