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
    wchar_t text[kPackRefusalTextCapacity];
    size_t length = FormatPackRefusal(refusal, text, kPackRefusalTextCapacity);
    ASSERT_GT(length, 0u);
    PackRefusal read = {};
    ASSERT_TRUE(ParsePackRefusal(text, length, &read));
    EXPECT_STREQ(refusal.line, read.line);
    EXPECT_STREQ(refusal.validator, read.validator);
    EXPECT_TRUE(RefusalStillApplies(read, refusal.source, refusal.versionDigest));
    unsigned char otherVersion[kReleaseDigestSize] = {};
    EXPECT_FALSE(RefusalStillApplies(read, refusal.source, otherVersion)) << "the version file changed";
    EXPECT_FALSE(RefusalStillApplies(read, L"get.tarvolin.example/other.exe", refusal.versionDigest));

    const std::wstring whole(text, length);
    for (const std::wstring& changed : {whole.substr(0, length - 1), whole + L"x",
                                        std::wstring(whole).replace(whole.find(L"3c3c"), 2, L"zz")})
        EXPECT_FALSE(ParsePackRefusal(changed.data(), changed.size(), &read));
    refusal.validator[0] = L'\0';
    EXPECT_EQ(0u, FormatPackRefusal(refusal, text, kPackRefusalTextCapacity)) << "nothing to ask with";
    wcscpy(refusal.validator, L"\"a\"\r\nX-Injected: 1");
    EXPECT_EQ(0u, FormatPackRefusal(refusal, text, kPackRefusalTextCapacity));
}
