// Which received files count as a whole ZIP archive: whole archives with and without a comment or
// a zip64 end record pass; foreign files, every truncation, trailing bytes and a broken central
// directory do not.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "worker/zip_rules.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, uint32_t v)
{
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}

void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void PutText(Bytes& b, const std::string& s)
{
    b.insert(b.end(), s.begin(), s.end());
}

// The fields local and central headers share, from the flags to the extra field's length: no
// flags, stored, no time, CRC 0 (which the check does not read), the sizes and the name's length.
void PutEntryFields(Bytes& zip, const std::string& name, const std::string& data)
{
    Put16(zip, 0);
    Put16(zip, 0);
    Put32(zip, 0);
    Put32(zip, 0);
    Put32(zip, static_cast<uint32_t>(data.size()));
    Put32(zip, static_cast<uint32_t>(data.size()));
    Put16(zip, static_cast<uint32_t>(name.size()));
    Put16(zip, 0);
}

// A stored (uncompressed) archive with the given entries.
Bytes MakeZip(const std::vector<std::pair<std::string, std::string>>& entries, const std::string& comment = "")
{
    Bytes zip;
    std::vector<uint32_t> offsets;
    for (const auto& [name, data] : entries) {
        offsets.push_back(static_cast<uint32_t>(zip.size()));
        Put32(zip, 0x04034b50);
        Put16(zip, 10);
        PutEntryFields(zip, name, data);
        PutText(zip, name);
        PutText(zip, data);
    }
    uint32_t central = static_cast<uint32_t>(zip.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [name, data] = entries[i];
        Put32(zip, 0x02014b50);
        Put16(zip, 20);
        Put16(zip, 10);
        PutEntryFields(zip, name, data);
        Put16(zip, 0); // comment, disk, internal and external attributes
        Put16(zip, 0);
        Put16(zip, 0);
        Put32(zip, 0);
        Put32(zip, offsets[i]);
        PutText(zip, name);
    }
    uint32_t centralSize = static_cast<uint32_t>(zip.size()) - central;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put32(zip, centralSize);
    Put32(zip, central);
    Put16(zip, static_cast<uint32_t>(comment.size()));
    PutText(zip, comment);
    return zip;
}

bool Whole(const Bytes& b)
{
    return IsWholeZipArchive(b.data(), b.size());
}

Bytes Sample()
{
    return MakeZip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: x.Main\r\n\r\n"},
                    {"x/Main.class", std::string(300, '\xCA')}});
}

} // namespace

TEST(IsWholeZipArchive, AcceptsAWholeArchiveWithOrWithoutComment)
{
    EXPECT_TRUE(Whole(Sample()));
    EXPECT_TRUE(Whole(MakeZip({{"a.txt", "alpha"}}, "a comment with PK\x05\x06 inside")));
    EXPECT_TRUE(Whole(MakeZip({{"a.txt", ""}})));
}

TEST(IsWholeZipArchive, RejectsEmptyAndForeignFiles)
{
    EXPECT_FALSE(IsWholeZipArchive(nullptr, 0));
    EXPECT_FALSE(Whole(Bytes{}));
    EXPECT_FALSE(Whole(Bytes{'P', 'K', 3, 4}));
    std::string html = "<html><body>Proxy Authentication Required</body></html>";
    EXPECT_FALSE(Whole(Bytes(html.begin(), html.end())));
    // An empty archive (only the end record) has no local file at its start.
    EXPECT_FALSE(Whole(MakeZip({})));
}

TEST(IsWholeZipArchive, RejectsEveryTruncation)
{
    Bytes zip = Sample();
    for (size_t cut = 1; cut < zip.size(); ++cut) {
        Bytes part(zip.begin(), zip.begin() + cut);
        EXPECT_FALSE(Whole(part)) << "cut at " << cut;
    }
}

TEST(IsWholeZipArchive, RejectsTrailingBytesAndABrokenCentralDirectory)
{
    Bytes zip = Sample();
    Bytes longer = zip;
    longer.push_back(0);
    EXPECT_FALSE(Whole(longer));

    Bytes badOffset = zip;
    badOffset[badOffset.size() - 6] ^= 1; // central directory offset
    EXPECT_FALSE(Whole(badOffset));

    Bytes badEntries = zip;
    badEntries[badEntries.size() - 14] = 5; // entries on this disk differ from the total
    EXPECT_FALSE(Whole(badEntries));

    // A file whose middle is missing: start and end record of the same archive, joined.
    Bytes gap(zip.begin(), zip.begin() + 40);
    gap.insert(gap.end(), zip.end() - 22, zip.end());
    EXPECT_FALSE(Whole(gap));
}

TEST(IsWholeZipArchive, AcceptsAZip64EndRecordWithItsLocator)
{
    Bytes zip = MakeZip({{"a.txt", "alpha"}});
    size_t end = zip.size() - 22;
    Bytes z64(zip.begin(), zip.begin() + static_cast<long>(end));
    uint64_t record = z64.size();
    Put32(z64, 0x06064b50);
    z64.insert(z64.end(), 52, 0);
    Put32(z64, 0x07064b50);
    Put32(z64, 0);
    Put32(z64, static_cast<uint32_t>(record));
    Put32(z64, 0);
    Put32(z64, 1);
    Put32(z64, 0x06054b50);
    Put16(z64, 0xFFFF);
    Put16(z64, 0xFFFF);
    Put16(z64, 0xFFFF);
    Put16(z64, 0xFFFF);
    Put32(z64, 0xFFFFFFFF);
    Put32(z64, 0xFFFFFFFF);
    Put16(z64, 0);
    EXPECT_TRUE(Whole(z64));
    Bytes noLocator = z64;
    noLocator[noLocator.size() - 42] ^= 0xFF;
    EXPECT_FALSE(Whole(noLocator));
}

