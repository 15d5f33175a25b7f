// The digest taken while the pack is written: a second thread reads the partial file behind the
// writer. Whatever the file held before (an earlier start's part) and however the writer's pieces
// fall, the digest is the one of the whole file once the writer is done.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "net/pack_digest.h"
#include "test_helpers.h"

namespace {

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

std::string Hex(const unsigned char* bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Appends the pieces to the file as the download does.
void WritePieces(const std::wstring& path, const std::vector<std::string>& pieces)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER zero = {};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    for (size_t i = 0; i < pieces.size(); ++i) {
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, pieces[i].data(), static_cast<DWORD>(pieces[i].size()), &written, nullptr));
        if (i % 5 == 0)
            Sleep(15); // let the follower catch up and wait, as it does on a slow line
    }
    CloseHandle(file);
}

} // namespace

TEST(PackDigest, TheDigestCoversTheWholeFileHoweverItArrives)
{
    struct {
        const char* name;
        std::string before; // what an earlier start left in the partial file
        std::vector<std::string> pieces;
        const char* sha256; // known answer, or null: the digest of the file read once after
    } cases[] = {
        {"known answer", "", {"a", "b", "c"}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"empty pack", "", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"fresh download", "", {Pattern(16384, 1), Pattern(16384, 2), Pattern(7, 3), Pattern(300000, 4)}, nullptr},
        {"continued download", Pattern(1000003, 5), {Pattern(16384, 6), Pattern(1, 7), Pattern(65536, 8)}, nullptr},
        {"pieces across the follower's reads", "", {Pattern(1048575, 10), Pattern(2, 11), Pattern(1048576, 12)}, nullptr},
        {"nothing more arrives", Pattern(70000, 9), {}, nullptr},
    };
    std::wstring path = TempPath(L"pack_digest_test.part");
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(path, c.before);
        DigestFollower follower;
        ASSERT_TRUE(StartDigestFollower(path.c_str(), &follower));
        WritePieces(path, c.pieces);
        FileDigest digest;
        FinishDigestFollower(&follower, true, &digest);
        ASSERT_TRUE(digest.known);

        unsigned char expected[kSha256Size];
        uint64_t size = 0;
        ASSERT_EQ(0ul, HashFile(path.c_str(), expected, &size));
        EXPECT_EQ(size, digest.size);
        EXPECT_EQ(Hex(expected, kSha256Size), Hex(digest.sha256, kSha256Size));
        if (c.sha256) {
            EXPECT_EQ(c.sha256, Hex(digest.sha256, kSha256Size));
        }
    }
    DeleteFileW(path.c_str());
}

TEST(PackDigest, NoDigestWhenTheDownloadBrokeOrTheFollowerCouldNotStart)
{
    std::wstring path = TempPath(L"pack_digest_test.part");
    WriteWholeFile(path, Pattern(200000, 1));
    DigestFollower follower;
    ASSERT_TRUE(StartDigestFollower(path.c_str(), &follower));
    WritePieces(path, {Pattern(4096, 2)});
    FileDigest digest;
    FinishDigestFollower(&follower, false, &digest);
    EXPECT_FALSE(digest.known);
    // The follower let go of the file: it can be moved at once, as the pack is after a download.
    std::wstring moved = path + L".moved";
    EXPECT_TRUE(MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    DeleteFileW(moved.c_str());

    EXPECT_FALSE(StartDigestFollower(path.c_str(), &follower)); // the file is gone
    FinishDigestFollower(&follower, true, &digest);
    EXPECT_FALSE(digest.known);
}
