// The version file's release lines: the number reads as the plain version reader reads it, the
// signed part ends where the first signature line begins, each decoded signature spells back to its
// own text (one spelling per value), and every verdict formats within its line.
#include <string.h>

#include <string>

#include "fuzz_text.h"
#include "provision/release_rules.h"
#include "provision/version_rules.h"

namespace {

std::string EncodeBase64(const unsigned char* bytes, size_t length)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < length; i += 3) {
        unsigned value = bytes[i] << 16 | (i + 1 < length ? bytes[i + 1] << 8 : 0) | (i + 2 < length ? bytes[i + 2] : 0);
        text += kAlphabet[value >> 18 & 63];
        text += kAlphabet[value >> 12 & 63];
        text += i + 1 < length ? kAlphabet[value >> 6 & 63] : '=';
        text += i + 2 < length ? kAlphabet[value & 63] : '=';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    bool truncated = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    ReleaseLines lines;
    ParseReleaseText(text.data(), text.size(), truncated, &lines);

    FUZZ_CHECK(lines.version == ParseVersionText(text.substr(0, 500).c_str()));
    FUZZ_CHECK(lines.readsNumber == VersionTextHasNumber(text.substr(0, 500).c_str()));
    if (lines.hasSignature && !lines.malformed) {
        FUZZ_CHECK(lines.signedLength < text.size());
        FUZZ_CHECK(text.compare(lines.signedLength, 10, "signature=") == 0);
        FUZZ_CHECK(text[lines.signedLength - 1] == '\n');
        // Every signature line from the first on spells back, in order, one of the signatures read.
        FUZZ_CHECK(lines.signatureCount >= 1 && lines.signatureCount <= kReleaseSignatureLimit);
        size_t count = 0;
        for (size_t at = lines.signedLength; (at = text.find("signature=", at)) != std::string::npos; ++count) {
            size_t end = text.find_first_of("\r\n", at);
            std::string spelled = text.substr(at + 10, end == std::string::npos ? std::string::npos : end - at - 10);
            FUZZ_CHECK(count < lines.signatureCount && spelled == EncodeBase64(lines.signatures[count], kReleaseSignatureSize));
            at = end == std::string::npos ? text.size() : end;
        }
        FUZZ_CHECK(count == lines.signatureCount);
    }
    FUZZ_CHECK(lines.hasSignature == (lines.signatureCount > 0));
    if (text.find('\n') == std::string::npos)
        FUZZ_CHECK(!HasReleaseLines(lines));

    unsigned char decoded[64];
    long count = DecodeBase64(text.data(), text.size(), decoded, sizeof decoded);
    if (count >= 0)
        FUZZ_CHECK(EncodeBase64(decoded, static_cast<size_t>(count)) == text);

    PackFacts facts = {};
    facts.keyPresent = data[0] & 2;
    facts.versionReadable = !(data[0] & 4);
    facts.packReadable = data[0] & 8;
    facts.signatureStatus = (data[0] & 16) ? 0 : kInvalidSignature;
    facts.packSize = size;
    ReleaseVerdict verdict = JudgeRelease(lines, facts);
    if (verdict == kReleaseAccepted && facts.keyPresent)
        FUZZ_CHECK(lines.hasSignature && lines.hasSize && lines.hasDigest && facts.packReadable);
    facts.now = static_cast<int64_t>(size) * 1000003;
    if (JudgeRelease(lines, facts) == kReleaseAccepted)
        FUZZ_CHECK(!ReleaseExpired(lines, facts.now) || lines.malformed || !facts.versionReadable);
    wchar_t line[40 + 8];
    SetCanary(line + 40, 8);
    FormatReleaseRefusal(verdict, lines, facts, L"C:\\version.txt", L"C:\\jre_pack.exe", line, 40);
    FUZZ_CHECK(CanaryIntact(line + 40, 8));

    // An archive runs only as the announcement names it, and never from an expired or, with a
    // key, unverified file.
    Announcement a = JudgeAnnouncement(lines, facts.versionReadable, facts.keyPresent, facts.signatureStatus, facts.now);
    unsigned char digest[kReleaseDigestSize] = {};
    memcpy(digest, text.data(), text.size() < sizeof digest ? text.size() : sizeof digest);
    ArchiveVerdict archive = JudgeArchive(a, size, digest);
    if (archive == kArchiveVouched)
        FUZZ_CHECK(!a.expired && (!a.keyPresent || a.verified) && (a.hasArchiveSize || a.hasArchiveDigest) &&
                   (!a.hasArchiveSize || a.archiveSize == size) &&
                   (!a.hasArchiveDigest || memcmp(a.archiveDigest, digest, sizeof digest) == 0));
    if (archive == kArchiveUnchecked)
        FUZZ_CHECK(!a.keyPresent && !a.hasArchiveSize && !a.hasArchiveDigest);
    SetCanary(line + 40, 8);
    FormatArchiveRefusal(archive, a, size, digest, line, 40);
    FUZZ_CHECK(CanaryIntact(line + 40, 8));
    int64_t seconds = 0;
    if (ParseUtcTime(text.data(), text.size(), &seconds))
        FUZZ_CHECK(seconds >= 0 && seconds < 253402300800LL); // 1970 to the end of 9999
    return 0;
}
