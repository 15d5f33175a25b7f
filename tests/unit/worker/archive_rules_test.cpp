// The local copy of the launcher archive: its stored text read back as written and nothing else,
// the only names the clean-up may delete, and when a copy may run without the server.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "worker/archive_rules.h"

namespace {

ArchiveCopy Copy()
{
    ArchiveCopy copy = {};
    wcscpy(copy.fileName, L"launcher-12.jar");
    wcscpy(copy.validator, L"\"5f2a-61c8\"");
    copy.length = 3145728;
    memset(copy.sha256, 0xA5, sizeof copy.sha256);
    copy.vouched = true;
    copy.hasExpiry = true;
    strcpy(copy.expiresText, "2030-02-28T23:59:59Z");
    copy.expiresAt = 1898553599;
    return copy;
}

} // namespace

TEST(ArchiveRules, StoredTextReadsBackAsWrittenAndNothingElse)
{
    char text[kArchiveMetaTextCapacity];
    size_t size = FormatArchiveCopyMeta(Copy(), text, sizeof text);
    ASSERT_GT(size, 0u);
    ArchiveCopy read = {};
    ASSERT_TRUE(ParseArchiveCopyMeta(text, size, &read));
    EXPECT_STREQ(L"launcher-12.jar", read.fileName);
    EXPECT_STREQ(L"\"5f2a-61c8\"", read.validator);
    EXPECT_EQ(3145728u, read.length);
    EXPECT_EQ(0, memcmp(Copy().sha256, read.sha256, sizeof read.sha256));
    EXPECT_TRUE(read.vouched && read.hasExpiry);
    EXPECT_EQ(1898553599, read.expiresAt);

    const std::string whole(text, size);
    const std::string changed[] = {
        whole.substr(0, size - 1),                                    // cut in its last line end
        whole + "x",                                                  // grown
        std::string(whole).replace(whole.find("launcher-12"), 11, "..\\x-12.jar"), // not a copy's name
        std::string(whole).replace(whole.find("vouched=1"), 9, "vouched=2"),
        std::string(whole).replace(whole.find("2030"), 4, "2030-"),
    };
    for (const std::string& c : changed)
        EXPECT_FALSE(ParseArchiveCopyMeta(c.data(), c.size(), &read)) << c;

    ArchiveCopy dated = Copy();
    wcscpy(dated.validator, L"Wed, 21 Oct 2026 07:28:00 GMT");
    dated.hasExpiry = false;
    size = FormatArchiveCopyMeta(dated, text, sizeof text);
    ASSERT_TRUE(ParseArchiveCopyMeta(text, size, &read));
    EXPECT_STREQ(dated.validator, read.validator);
    EXPECT_FALSE(read.hasExpiry);
    dated.validator[0] = L'\u00e9';
    EXPECT_EQ(0u, FormatArchiveCopyMeta(dated, text, sizeof text)) << "the text is read back byte for byte";
    EXPECT_EQ(0u, FormatArchiveCopyMeta(Copy(), text, 40)) << "no room";
}

TEST(ArchiveRules, OnlyOldCopiesAreDeletedAndOnlyVouchedCopiesRunOffline)
{
    wchar_t name[kArchiveCopyNameCapacity];
    ASSERT_TRUE(FormatArchiveCopyName(4294967295u, name, kArchiveCopyNameCapacity));
    EXPECT_TRUE(IsArchiveCopyName(name));
    EXPECT_TRUE(IsArchiveCopyName(L"LAUNCHER-1.JAR"));
    for (const wchar_t* other : {L"launcher-.jar", L"launcher-1.jar.meta", L"launcher-1a.jar", L"launcher.jar",
                                 L"jre", L"launcher-12345678901.jar", L"version.txt"})
        EXPECT_FALSE(IsArchiveCopyName(other)) << other;

    EXPECT_EQ(12u, ArchiveCopyNumber(L"LAUNCHER-12.JAR"));
    EXPECT_EQ(0u, ArchiveCopyNumber(L"launcher-4294967296.jar")) << "beyond 32 bits";
    // copy number, the one that stays current (0: none), the newest, the newest settled -> may it go
    const struct { unsigned number, running, newest; bool settled, deleted; } cleanUps[] = {
        {3, 5, 5, true, true},  {5, 5, 5, true, false}, {6, 5, 6, true, false}, {3, 0, 5, true, true},
        {5, 0, 5, true, false}, {0, 0, 5, true, false}, {3, 5, 5, false, false}, {3, 0, 5, false, false}};
    for (const auto& c : cleanUps)
        EXPECT_EQ(c.deleted, ArchiveCopyMayBeDeleted(c.number, c.running, c.newest, c.settled))
            << c.number << " " << c.running << " " << c.settled;

    ArchiveCopy copy = Copy();
    Announcement none = {};
    none.keyPresent = true;
    Announcement named = none;
    named.verified = named.hasArchiveSize = named.hasArchiveDigest = true;
    named.archiveSize = copy.length;
    memcpy(named.archiveDigest, copy.sha256, sizeof copy.sha256);
    Announcement other = named;
    other.archiveDigest[0] ^= 1;
    EXPECT_TRUE(ArchiveCopyUsableOffline(copy, none, 1898553598)) << "no verified version file arrived";
    EXPECT_TRUE(ArchiveCopyUsableOffline(copy, named, 1898553598));
    EXPECT_FALSE(ArchiveCopyUsableOffline(copy, other, 1898553598)) << "the release names another archive";
    other.hasArchiveDigest = other.hasArchiveSize = false;
    EXPECT_FALSE(ArchiveCopyUsableOffline(copy, other, 1898553598)) << "the release names no archive";
    EXPECT_FALSE(ArchiveCopyUsableOffline(copy, named, 1898553599)) << "its version file has expired";
    copy.vouched = false;
    EXPECT_FALSE(ArchiveCopyUsableOffline(copy, none, 0)) << "never vouched for with the key";
    none.keyPresent = false;
    EXPECT_TRUE(ArchiveCopyUsableOffline(copy, none, 1898553599)) << "without a key it passed its checks";

    named.version = 5;
    EXPECT_TRUE(ReleaseOlderThanSeen(named, 7));
    EXPECT_FALSE(ReleaseOlderThanSeen(named, 5) || ReleaseOlderThanSeen(named, -1));
    named.keyPresent = false;
    EXPECT_FALSE(ReleaseOlderThanSeen(named, 7)) << "keyless builds as before";
}

TEST(ArchiveRules, OnlyACopyTheVersionFileNamesWhollyRunsWithoutARequest)
{
    Announcement named = {};
    named.keyPresent = named.verified = named.hasArchiveSize = named.hasArchiveDigest = true;
    named.archiveSize = Copy().length;
    memcpy(named.archiveDigest, Copy().sha256, kReleaseDigestSize);
    EXPECT_TRUE(ArchiveCopyNamedByAnnouncement(Copy(), named));
    Announcement changed[] = {named, named, named};
    changed[0].archiveDigest[31] ^= 1;   // another archive
    changed[1].verified = false;         // not signed with the key
    changed[2].keyPresent = changed[2].verified = changed[2].hasArchiveDigest = false; // a size alone
    for (const Announcement& a : changed)
        EXPECT_FALSE(ArchiveCopyNamedByAnnouncement(Copy(), a)) << &a - changed;
}
