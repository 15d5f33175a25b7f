#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "provision/release_rules.h"

namespace {

const std::string kDigestHex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
// 64 bytes 0x00..0x3F in base64.
const std::string kSignatureBase64 =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==";

ReleaseLines Parse(const std::string& text, bool truncated = false)
{
    ReleaseLines lines;
    ParseReleaseText(text.data(), text.size(), truncated, &lines);
    return lines;
}

struct ParseCase {
    const char* name;
    std::string text;
    int version;
    bool malformed;
    bool hasSize;
    bool hasDigest;
    bool hasSignature;
    size_t signedLength;
};

} // namespace

TEST(ReleaseRules, VersionFileTexts)
{
    const std::string head = "12\nsize=5\nsha256=" + kDigestHex + "\n";
    const std::string sig = "signature=" + kSignatureBase64 + "\n";
    const ParseCase cases[] = {
        // Old-style files: the number as ever, no release lines.
        {"number alone", "5", 5, false, false, false, false, 0},
        {"number and line end", "12\n", 12, false, false, false, false, 0},
        {"letters after", " 7abc", 7, false, false, false, false, 0},
        {"other lines", "9\nhello\nsize\n", 9, false, false, false, false, 0},
        {"key on the number line", "size=5\n", 0, false, false, false, false, 0},
        {"empty", "", 0, false, false, false, false, 0},
        // Release files.
        {"signed", head + "signature=" + kSignatureBase64 + "\n", 12, false, true, true, true, head.size()},
        {"signed, no last line end", head + "signature=" + kSignatureBase64, 12, false, true, true, true,
         head.size()},
        {"signed, CRLF", "12\r\nsize=5\r\nsignature=" + kSignatureBase64 + "\r\n", 12, false, true, false, true, 12},
        {"size only", "3\nsize=5\n", 3, false, true, false, false, 0},
        // Lines that name a key but cannot be read.
        {"size with sign", "3\nsize=+5\n", 3, true, false, false, false, 0},
        {"size beyond 64 bits", "3\nsize=18446744073709551616\n", 3, true, false, false, false, 0},
        {"size blank", "3\nsize= 5\n", 3, true, false, false, false, 0},
        {"digest short", "3\nsha256=" + kDigestHex.substr(1) + "\n", 3, true, false, false, false, 0},
        {"digest not hex", "3\nsha256=" + kDigestHex.substr(1) + "g\n", 3, true, false, false, false, 0},
        {"size twice", "3\nsize=5\nsize=5\n", 3, true, true, false, false, 0},
        {"signature short", "3\nsignature=" + kSignatureBase64.substr(4) + "\n", 3, true, false, false, false, 0},
        {"line after signature", "3\nsignature=" + kSignatureBase64 + "\nsize=5\n", 3, true, false, false, true, 2},
        {"text after signature", "3\nsignature=" + kSignatureBase64 + "\n\nx", 3, true, false, false, true, 2},
        // Up to four signatures, all over the bytes before the first; blank lines between them.
        {"four signatures", head + sig + sig + "\r\n" + sig + sig, 12, false, true, true, true, head.size()},
        {"five signatures", "3\n" + sig + sig + sig + sig + sig, 3, true, false, false, true, 2},
        {"line after the second signature", "3\n" + sig + sig + "size=5\n", 3, true, false, false, true, 2},
        {"unreadable second signature", "3\n" + sig + "signature=" + kSignatureBase64.substr(4) + "\n", 3, true, false,
         false, true, 2},
        // Archive and expiry lines are release lines too, signed like the others.
        {"archive and expiry", "4\narchive-size=9\narchive-sha256=" + kDigestHex + "\nexpires=2030-02-28T23:59:59Z\n", 4,
         false, false, false, false, 0},
        {"archive size with sign", "4\narchive-size=-9\n", 4, true, false, false, false, 0},
        {"archive digest twice", "4\narchive-sha256=" + kDigestHex + "\narchive-sha256=" + kDigestHex + "\n", 4, true,
         false, false, false, 0},
        {"expiry without Z", "4\nexpires=2030-02-28T23:59:59\n", 4, true, false, false, false, 0},
        {"expiry on 30 February", "4\nexpires=2030-02-30T00:00:00Z\n", 4, true, false, false, false, 0},
        {"expiry at hour 24", "4\nexpires=2030-02-28T24:00:00Z\n", 4, true, false, false, false, 0},
        // The rollout share: a percentage, read once.
        {"rollout 100", "4\nrollout=100\n", 4, false, false, false, false, 0},
        {"rollout over 100", "4\nrollout=101\n", 4, true, false, false, false, 0},
        {"rollout with sign", "4\nrollout=-5\n", 4, true, false, false, false, 0},
        {"rollout twice", "4\nrollout=5\nrollout=5\n", 4, true, false, false, false, 0},
    };
    for (const ParseCase& c : cases) {
        ReleaseLines lines = Parse(c.text);
        EXPECT_EQ(c.version, lines.version) << c.name;
        EXPECT_EQ(c.malformed, lines.malformed) << c.name;
        EXPECT_EQ(c.hasSize, lines.hasSize) << c.name;
        EXPECT_EQ(c.hasDigest, lines.hasDigest) << c.name;
        EXPECT_EQ(c.hasSignature, lines.hasSignature) << c.name;
        if (c.hasSignature && !c.malformed) {
            EXPECT_EQ(c.signedLength, lines.signedLength) << c.name;
        }
    }
    ReleaseLines lines = Parse(head + "signature=" + kSignatureBase64 + "\n");
    EXPECT_EQ(5u, lines.size);
    EXPECT_EQ(0x00, lines.digest[0]);
    EXPECT_EQ(0xFF, lines.digest[31]) << "hex digits in either case";
    EXPECT_EQ(0x3F, lines.signatures[0][63]);
    lines = Parse(head + sig + "signature=" + kSignatureBase64.substr(0, 84) + "QA==\n");
    EXPECT_EQ(2u, lines.signatureCount);
    EXPECT_EQ(0x40, lines.signatures[1][63]) << "each signature kept in its order";
    lines = Parse("4\narchive-size=9\narchive-sha256=" + kDigestHex + "\nexpires=2030-02-28T23:59:59Z\n");
    EXPECT_TRUE(lines.hasArchiveSize && lines.hasArchiveDigest && lines.hasExpiry && HasReleaseLines(lines));
    EXPECT_EQ(9u, lines.archiveSize);
    EXPECT_EQ(1898553599, lines.expiresAt) << "2030-02-28T23:59:59Z";
    int64_t seconds = 0;
    EXPECT_TRUE(ParseUtcTime("2028-02-29T00:00:00Z", 20, &seconds)) << "a leap day";
    EXPECT_EQ(1835395200, seconds);
    EXPECT_FALSE(ParseUtcTime("2100-02-29T00:00:00Z", 20, &seconds)) << "no leap day in 2100";
    EXPECT_TRUE(ReleaseExpired(lines, 1898553599));
    EXPECT_FALSE(ReleaseExpired(lines, 1898553598));
    // A file cut by the read limit cannot prove anything once it has release lines.
    EXPECT_TRUE(Parse("3\nsize=5\n", true).malformed);
    EXPECT_FALSE(Parse("3\nanything", true).malformed);
}

TEST(ReleaseRules, Base64IsStrict)
{
    unsigned char out[8];
    EXPECT_EQ(3, DecodeBase64("TWFu", 4, out, sizeof out));
    EXPECT_EQ(0, memcmp(out, "Man", 3));
    EXPECT_EQ(1, DecodeBase64("TQ==", 4, out, sizeof out));
    EXPECT_EQ(-1, DecodeBase64("TR==", 4, out, sizeof out)) << "unused bits must be zero";
    EXPECT_EQ(-1, DecodeBase64("TQ=", 3, out, sizeof out));
    EXPECT_EQ(-1, DecodeBase64("T=Q=", 4, out, sizeof out));
    EXPECT_EQ(-1, DecodeBase64("TQ==TWFu", 8, out, sizeof out)) << "padding only at the end";
    EXPECT_EQ(-1, DecodeBase64("TW u", 4, out, sizeof out));
    EXPECT_EQ(-1, DecodeBase64("TWFuTWFuTWFu", 12, out, sizeof out)) << "more than the capacity";
    EXPECT_EQ(0, DecodeBase64("", 0, out, sizeof out));
}

namespace {

enum FileKind { kOldStyle, kSizeOnly, kSizeAndDigest, kSigned, kSignedWithoutDigest, kMalformed };

struct JudgeCase {
    const char* name;
    bool key;
    FileKind file;
    bool versionReadable;
    long signatureStatus;
    bool packReadable;
    uint64_t packSize;
    bool digestMatches;
    ReleaseVerdict verdict;
    const wchar_t* line;
};

ReleaseLines LinesOf(FileKind kind)
{
    std::string digest = "sha256=" + kDigestHex + "\n";
    std::string signature = "signature=" + kSignatureBase64 + "\n";
    switch (kind) {
    case kOldStyle:
        return Parse("7\n");
    case kSizeOnly:
        return Parse("7\nsize=100\n");
    case kSizeAndDigest:
        return Parse("7\nsize=100\n" + digest);
    case kSigned:
        return Parse("7\nsize=100\n" + digest + signature);
    case kSignedWithoutDigest:
        return Parse("7\nsize=100\n" + signature);
    case kMalformed:
        break;
    }
    return Parse("7\nsize=x\n");
}

} // namespace

TEST(ReleaseRules, WhichPackMayRunAndTheLineOfARefusal)
{
    const long bad = kInvalidSignature;
    const JudgeCase cases[] = {
        // Built without a key: as before unless the file names the pack.
        {"no key, old file", false, kOldStyle, true, bad, false, 0, false, kReleaseAccepted, L""},
        {"no key, no version file", false, kOldStyle, false, bad, false, 0, false, kReleaseAccepted, L""},
        {"no key, signed file", false, kSigned, true, bad, true, 100, true, kReleaseAccepted, L""},
        {"no key, size matches", false, kSizeOnly, true, bad, true, 100, false, kReleaseAccepted, L""},
        {"no key, size differs", false, kSizeOnly, true, bad, true, 99, false, kReleaseSizeMismatch,
         L"Jre check failed: size 99, version file says 100, file C:\\c\\jre_pack.exe"},
        {"no key, digest differs", false, kSizeAndDigest, true, bad, true, 100, false, kReleaseDigestMismatch,
         L"Jre check failed: sha256 "
         L"ff00000000000000000000000000000000000000000000000000000000000000, version file says "
         L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff, file C:\\c\\jre_pack.exe"},
        {"no key, pack missing", false, kSizeOnly, true, bad, false, 0, false, kReleasePackUnreadable,
         L"Jre check failed: cannot read pack C:\\c\\jre_pack.exe, error 0x00000002"},
        {"no key, malformed", false, kMalformed, true, bad, true, 100, true, kReleaseMalformed,
         L"Jre check failed: unreadable release line in version file C:\\c\\version.txt"},
        // Built with a key: only a verified signature over size and digest, both matching.
        {"key, signed and matching", true, kSigned, true, 0, true, 100, true, kReleaseAccepted, L""},
        {"key, old file", true, kOldStyle, true, bad, false, 0, false, kReleaseNoSignature,
         L"Jre check failed: no signature in version file C:\\c\\version.txt"},
        {"key, unsigned digest", true, kSizeAndDigest, true, bad, true, 100, true, kReleaseNoSignature,
         L"Jre check failed: no signature in version file C:\\c\\version.txt"},
        {"key, other key", true, kSigned, true, bad, true, 100, true, kReleaseBadSignature,
         L"Jre check failed: signature does not verify, version file C:\\c\\version.txt"},
        {"key, check error", true, kSigned, true, static_cast<long>(0xC0000225), true, 100, true,
         kReleaseBadSignature,
         L"Jre check failed: signature check error 0xC0000225, version file C:\\c\\version.txt"},
        {"key, signed without digest", true, kSignedWithoutDigest, true, 0, true, 100, true,
         kReleaseUnsignedContent, L"Jre check failed: no size or sha256 in signed version file C:\\c\\version.txt"},
        {"key, one byte more", true, kSigned, true, 0, true, 101, true, kReleaseSizeMismatch,
         L"Jre check failed: size 101, version file says 100, file C:\\c\\jre_pack.exe"},
        {"key, byte changed", true, kSigned, true, 0, true, 100, false, kReleaseDigestMismatch, nullptr},
        {"key, malformed", true, kMalformed, true, 0, true, 100, true, kReleaseMalformed, nullptr},
        {"key, no version file", true, kOldStyle, false, bad, false, 0, false, kReleaseVersionUnreadable,
         L"Jre check failed: cannot read version file C:\\c\\version.txt, error 0x00000002"},
    };
    for (const JudgeCase& c : cases) {
        ReleaseLines lines = LinesOf(c.file);
        PackFacts facts = {};
        facts.keyPresent = c.key;
        facts.versionReadable = c.versionReadable;
        facts.versionError = c.versionReadable ? 0 : 2;
        facts.signatureStatus = c.signatureStatus;
        facts.packReadable = c.packReadable;
        facts.packError = c.packReadable ? 0 : 2;
        facts.packSize = c.packSize;
        if (c.digestMatches)
            memcpy(facts.packDigest, lines.digest, kReleaseDigestSize);
        else
            facts.packDigest[0] = 0xFF;
        ReleaseVerdict verdict = JudgeRelease(lines, facts);
        EXPECT_EQ(c.verdict, verdict) << c.name;
        wchar_t line[512];
        FormatReleaseRefusal(verdict, lines, facts, L"C:\\c\\version.txt", L"C:\\c\\jre_pack.exe", line, 512);
        if (c.line) {
            EXPECT_STREQ(c.line, line) << c.name;
        }
    }
    // A release installed without the server's answer passes over its expiry, and nothing else.
    PackFacts facts = {};
    facts.versionReadable = facts.packReadable = true;
    facts.now = 1898553599;
    facts.expiryWaived = true;
    EXPECT_EQ(kReleaseAccepted, JudgeRelease(Parse("7\nexpires=2030-02-28T23:59:59Z\n"), facts));
    EXPECT_EQ(kReleaseSizeMismatch, JudgeRelease(Parse("7\nsize=1\nexpires=2030-02-28T23:59:59Z\n"), facts));
    facts.expiryWaived = false;
    EXPECT_EQ(kReleaseExpired, JudgeRelease(Parse("7\nexpires=2030-02-28T23:59:59Z\n"), facts));
}

TEST(ReleaseRules, ThePackIsReadOnlyWhenTheVerdictDependsOnIt)
{
    EXPECT_FALSE(ReleaseNeedsPack(LinesOf(kOldStyle), false)) << "an old-style run reads nothing more";
    EXPECT_TRUE(ReleaseNeedsPack(LinesOf(kSizeOnly), false));
    EXPECT_FALSE(ReleaseNeedsPack(LinesOf(kMalformed), false));
    EXPECT_FALSE(ReleaseNeedsPack(LinesOf(kSizeAndDigest), true)) << "unsigned: refused before any reading";
    EXPECT_TRUE(ReleaseNeedsPack(LinesOf(kSigned), true));
    EXPECT_FALSE(ReleaseNeedsSignature(LinesOf(kSigned), false));
    EXPECT_TRUE(ReleaseNeedsSignature(LinesOf(kSigned), true));
}

TEST(ReleaseRules, WhatTheFirstFetchVouchesForAndWhenTheSecondMayInstall)
{
    const std::string archive = "archive-size=9\narchive-sha256=" + kDigestHex + "\n";
    const std::string signature = "signature=" + kSignatureBase64 + "\n";
    const int64_t now = 1898553599; // the expiry below
    ReleaseLines named = Parse("7\n" + archive + signature);
    ReleaseLines expired = Parse("7\n" + archive + "expires=2030-02-28T23:59:59Z\n" + signature);
    ReleaseLines plain = Parse("7\n");
    ReleaseLines sizeOnly = Parse("7\narchive-size=9\n" + signature);
    unsigned char other[kReleaseDigestSize] = {0xFF};
    struct {
        const char* name;
        const ReleaseLines& lines;
        bool key;
        long signature;
        uint64_t size;
        const unsigned char* digest;
        ArchiveVerdict verdict;
    } archives[] = {
        {"key, signed, matching", named, true, 0, 9, named.archiveDigest, kArchiveVouched},
        {"key, signed, one byte more", named, true, 0, 10, named.archiveDigest, kArchiveSizeMismatch},
        {"key, signed, changed on the server", named, true, 0, 9, other, kArchiveDigestMismatch},
        {"key, bad signature", named, true, kInvalidSignature, 9, named.archiveDigest, kArchiveUnverified},
        {"key, no archive lines", plain, true, 0, 9, other, kArchiveUnverified},
        {"key, expired", expired, true, 0, 9, expired.archiveDigest, kArchiveExpired},
        {"no key, old file", plain, false, kInvalidSignature, 9, other, kArchiveUnchecked},
        {"no key, lines differ", named, false, kInvalidSignature, 9, other, kArchiveDigestMismatch},
        {"no key, size alone matches", sizeOnly, false, kInvalidSignature, 9, other, kArchiveVouched},
        {"key, size alone", sizeOnly, true, 0, 9, other, kArchiveNotNamed},
    };
    const std::string staged = "7\nrollout=30\n"; // a share is taken only from a file that can be trusted
    EXPECT_EQ(30u, JudgeAnnouncement(Parse(staged), true, false, kInvalidSignature, now).rollout) << "no key";
    EXPECT_EQ(30u, JudgeAnnouncement(Parse(staged + signature), true, true, 0, now).rollout) << "verified";
    EXPECT_EQ(100u, JudgeAnnouncement(Parse(staged + signature), true, true, kInvalidSignature, now).rollout);
    for (const auto& c : archives) {
        Announcement a = JudgeAnnouncement(c.lines, true, c.key, c.signature, now);
        EXPECT_EQ(c.verdict, JudgeArchive(a, c.size, c.digest)) << c.name;
    }
    wchar_t text[256];
    FormatArchiveRefusal(kArchiveExpired, JudgeAnnouncement(expired, true, true, 0, now), 9, other, text, 256);
    EXPECT_STREQ(L"die Versionsdatei ist seit 2030-02-28T23:59:59Z abgelaufen", text);

    ReleaseLines five = Parse("5\n" + signature);
    ReleaseLines empty = Parse("");
    struct {
        const char* name;
        const ReleaseLines& lines;
        bool key;
        bool verified;
        int deciding;
        int installed;
        InstallVerdict verdict;
    } installs[] = {
        {"signed, as announced", five, true, true, 5, 4, kInstallGoesOn},
        {"first fetch 9, genuine 5", five, true, true, 9, 7, kInstallNumberChanged},
        {"replayed 5 over installed 7", five, true, true, 5, 7, kInstallOlderThanInstalled},
        {"unverified stops before the pack", five, true, false, 5, 4, kInstallUnverified},
        {"no key, another number", five, false, false, 9, 7, kInstallGoesOn},
        {"empty second fetch", empty, false, false, 5, 4, kInstallNoNumber},
        {"expired", expired, true, true, 7, 4, kInstallExpired},
    };
    for (const auto& c : installs)
        EXPECT_EQ(c.verdict, JudgeSecondFetch(c.lines, c.key, c.verified, c.deciding, c.installed, now))
            << c.name;
}
