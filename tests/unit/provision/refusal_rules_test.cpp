// What is kept of a refused pack: read back as written and nothing else, and it applies only to the
// same pack address checked against the same version file.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "provision/refusal_rules.h"

TEST(RefusalRules, KeptRefusalReadsBackAndAppliesOnlyToTheSamePackAndVersionFile)
{
    PackRefusal refusal = {};
    wcscpy(refusal.validator, L"\"61c8-5f2a\"");
    wcscpy(refusal.source, L"get.tarvolin.example/apps/zentrix/windows/jre/jre_pack.exe");
    memset(refusal.versionDigest, 0x3C, sizeof refusal.versionDigest);
    wcscpy(refusal.line, L"Jre check failed: sha256 00, version file says 11, file C:\\Users\\J\u00fcrgen\\jre_pack.exe");
    refusal.keptAt = 1800000000;
    const int64_t now = refusal.keptAt + 60;
    wchar_t text[kPackRefusalTextCapacity];
    size_t length = FormatPackRefusal(refusal, text, kPackRefusalTextCapacity);
    ASSERT_GT(length, 0u);
    PackRefusal read = {};
    ASSERT_TRUE(ParsePackRefusal(text, length, &read));
    EXPECT_STREQ(refusal.line, read.line);
    EXPECT_STREQ(refusal.validator, read.validator);
    EXPECT_TRUE(RefusalStillApplies(read, refusal.source, refusal.versionDigest, now));
    unsigned char otherVersion[kReleaseDigestSize] = {};
    EXPECT_FALSE(RefusalStillApplies(read, refusal.source, otherVersion, now)) << "the version file changed";
    EXPECT_FALSE(RefusalStillApplies(read, L"get.tarvolin.example/other.exe", refusal.versionDigest, now));
    EXPECT_TRUE(RefusalStillApplies(read, refusal.source, refusal.versionDigest, read.keptAt + kRefusalLifetimeSeconds - 1));
    EXPECT_FALSE(RefusalStillApplies(read, refusal.source, refusal.versionDigest, read.keptAt + kRefusalLifetimeSeconds))
        << "lapsed after a day";
    EXPECT_FALSE(RefusalStillApplies(read, refusal.source, refusal.versionDigest, read.keptAt - 1)) << "clock went back";

    const std::wstring whole(text, length);
    std::wstring firstForm = std::wstring(whole).replace(whole.find(L"pack 2"), 6, L"pack 1");
    firstForm.erase(firstForm.find(L"kept-at="), firstForm.find(L"line=") - firstForm.find(L"kept-at="));
    for (const std::wstring& changed : {whole.substr(0, length - 1), whole + L"x",
                                        std::wstring(whole).replace(whole.find(L"3c3c"), 2, L"zz"),
                                        std::wstring(whole).replace(whole.find(L"=1800"), 2, L"=-"), firstForm})
        EXPECT_FALSE(ParsePackRefusal(changed.data(), changed.size(), &read));
    refusal.validator[0] = L'\0';
    EXPECT_EQ(0u, FormatPackRefusal(refusal, text, kPackRefusalTextCapacity)) << "nothing to ask with";
    wcscpy(refusal.validator, L"\"a\"\r\nX-Injected: 1");
    EXPECT_EQ(0u, FormatPackRefusal(refusal, text, kPackRefusalTextCapacity));
}

TEST(RefusalRules, OnlyAVerdictOnTheBytesOfOneWholeAnswerIsKept)
{
    struct {
        const char* what;
        bool oneWholeAnswer;
        bool notAProgram;
        ReleaseVerdict verdict;
        bool kept;
    } cases[] = {
        {"digest of a whole answer", true, false, kReleaseDigestMismatch, true},
        {"size of a whole answer", true, false, kReleaseSizeMismatch, true},
        {"a page, not a program", true, true, kReleaseAccepted, true},
        {"malformed version file", true, false, kReleaseMalformed, true},
        {"digest of a pack continued from a partial file", false, false, kReleaseDigestMismatch, false},
        {"page through the fallback (no validator)", false, true, kReleaseAccepted, false},
        {"pack unreadable", true, false, kReleasePackUnreadable, false},
        {"version file unreadable", true, false, kReleaseVersionUnreadable, false},
        {"signature check that may have failed as a call", true, false, kReleaseBadSignature, false},
        {"expired: the clock", true, false, kReleaseExpired, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kept, RefusalMayBeKept(c.oneWholeAnswer, c.notAProgram, c.verdict)) << c.what;
}
