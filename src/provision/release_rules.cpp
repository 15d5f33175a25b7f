#include "provision/release_rules.h"

#include <string.h>

#include "log/format.h"
#include "provision/version_rules.h"

namespace {

enum : size_t {
    kDigestHexLength = 2 * kReleaseDigestSize,
    kMaxSizeDigits = 20,
    kNumberReadLimit = 500, // what ReadVersionNumber takes of a file
};

bool StartsWith(const char* text, size_t length, const char* prefix)
{
    size_t prefixLength = strlen(prefix);
    return length >= prefixLength && memcmp(text, prefix, prefixLength) == 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ReadDigest(const char* text, size_t length, unsigned char* digest)
{
    return DecodeHex(text, length, digest, kReleaseDigestSize);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    // Days since 1970-01-01 of a proleptic Gregorian date (the well-known era computation).
    year -= month <= 2;
    int64_t era = year / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool IsLeapYear(uint64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

const char* const kReleaseKeys[] = {"size=",    "sha256=",  "archive-size=", "archive-sha256=",
                                    "expires=", "rollout=", "signature="};

enum : unsigned { kWholeFleet = 100 };

// A percentage: decimal digits (as every number of a release line) no greater than 100.
bool ReadPercent(const char* text, size_t length, unsigned* percent)
{
    uint64_t value = 0;
    if (!ReadDecimal(text, length, &value) || value > kWholeFleet)
        return false;
    *percent = static_cast<unsigned>(value);
    return true;
}

// The release key the line begins with, or null for a line that is not a release line.
const char* ReleaseKeyOf(const char* text, size_t length)
{
    for (const char* key : kReleaseKeys)
        if (StartsWith(text, length, key))
            return key;
    return nullptr;
}

// Marks a key as read; false when it was read before or its value cannot be read. (A second
// value may overwrite the first: the file is unusable either way.)
bool ReadOnce(bool* has, bool read)
{
    if (*has)
        return false;
    *has = read;
    return read;
}

// One more signature into lines; false when it is not base64 of exactly 64 bytes or the file
// already carries as many as a launcher reads.
bool ReadSignature(const char* value, size_t length, ReleaseLines* lines)
{
    if (lines->signatureCount == kReleaseSignatureLimit ||
        DecodeBase64(value, length, lines->signatures[lines->signatureCount], kReleaseSignatureSize) !=
            static_cast<long>(kReleaseSignatureSize))
        return false;
    ++lines->signatureCount;
    lines->hasSignature = true;
    return true;
}

// One release line (without its line end) into lines; false when its value cannot be read, or it
// names a key a second time.
bool ReadReleaseLine(const char* text, size_t length, ReleaseLines* lines)
{
    const char* key = ReleaseKeyOf(text, length);
    size_t keyLength = strlen(key);
    const char* value = text + keyLength;
    size_t valueLength = length - keyLength;
    if (key == kReleaseKeys[0])
        return ReadOnce(&lines->hasSize, ReadDecimal(value, valueLength, &lines->size));
    if (key == kReleaseKeys[1])
        return ReadOnce(&lines->hasDigest, ReadDigest(value, valueLength, lines->digest));
    if (key == kReleaseKeys[2])
        return ReadOnce(&lines->hasArchiveSize, ReadDecimal(value, valueLength, &lines->archiveSize));
    if (key == kReleaseKeys[3])
        return ReadOnce(&lines->hasArchiveDigest, ReadDigest(value, valueLength, lines->archiveDigest));
    if (key == kReleaseKeys[4]) {
        if (!ReadOnce(&lines->hasExpiry, ParseUtcTime(value, valueLength, &lines->expiresAt)))
            return false;
        memcpy(lines->expiresText, value, kUtcTimeLength);
        lines->expiresText[kUtcTimeLength] = 0;
        return true;
    }
    if (key == kReleaseKeys[5])
        return ReadOnce(&lines->hasRollout, ReadPercent(value, valueLength, &lines->rollout));
    return ReadSignature(value, valueLength, lines);
}

// A line after the first signature line: another signature, or an empty line (line ends only).
// false for anything else, which no signature would cover, and for a fifth signature.
bool ReadLineAfterSignature(const char* text, size_t length, ReleaseLines* lines)
{
    bool lineEndsOnly = true;
    for (size_t i = 0; i < length; ++i)
        lineEndsOnly = lineEndsOnly && text[i] == '\r';
    if (lineEndsOnly)
        return true;
    const size_t keyLength = sizeof "signature=" - 1;
    return StartsWith(text, length, "signature=") && ReadSignature(text + keyLength, length - keyLength, lines);
}

void DigestHex(const unsigned char* digest, char* hex)
{
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < kReleaseDigestSize; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    hex[kDigestHexLength] = 0;
}

} // namespace

bool ParseUtcTime(const char* text, size_t length, int64_t* seconds)
{
    // YYYY-MM-DDTHH:MM:SSZ, every field its fixed width.
    if (length != kUtcTimeLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    uint64_t year, month, day, hour, minute, second;
    if (!ReadDecimal(text, 4, &year) || !ReadDecimal(text + 5, 2, &month) || !ReadDecimal(text + 8, 2, &day) ||
        !ReadDecimal(text + 11, 2, &hour) || !ReadDecimal(text + 14, 2, &minute) ||
        !ReadDecimal(text + 17, 2, &second))
        return false;
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    uint64_t monthDays = static_cast<uint64_t>(kMonthDays[month - 1]) + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > monthDays)
        return false;
    *seconds = DaysFromCivil(static_cast<int64_t>(year), static_cast<int64_t>(month), static_cast<int64_t>(day)) * 86400 +
               static_cast<int64_t>(hour * 3600 + minute * 60 + second);
    return true;
}

bool ReleaseExpired(const ReleaseLines& lines, int64_t now)
{
    return lines.hasExpiry && now >= lines.expiresAt;
}

bool ReadDecimal(const char* text, size_t length, uint64_t* value)
{
    if (length == 0 || length > kMaxSizeDigits)
        return false;
    uint64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (result > (UINT64_MAX - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool DecodeHex(const char* text, size_t length, unsigned char* out, size_t count)
{
    if (length != 2 * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        int high = HexValue(text[2 * i]);
        int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

long DecodeBase64(const char* text, size_t length, unsigned char* out, size_t capacity)
{
    if (length % 4 != 0)
        return -1;
    size_t padding = 0;
    if (length >= 1 && text[length - 1] == '=')
        padding = (length >= 2 && text[length - 2] == '=') ? 2 : 1;
    size_t bytes = length / 4 * 3 - padding;
    if (bytes > capacity)
        return -1;
    size_t written = 0;
    for (size_t group = 0; group < length; group += 4) {
        bool last = group + 4 == length;
        uint32_t bits = 0;
        for (size_t i = 0; i < 4; ++i) {
            int value = Base64Value(text[group + i]);
            if (value < 0) {
                // "=" only as the padding of the last group
                if (!(last && text[group + i] == '=' && i >= 4 - padding))
                    return -1;
                value = 0;
            }
            bits = bits << 6 | static_cast<uint32_t>(value);
        }
        size_t take = last ? 3 - padding : 3;
        // Bits below the last byte must be zero, so that one byte string has one spelling.
        if (last && padding && (bits & ((1u << (8 * padding)) - 1)) != 0)
            return -1;
        for (size_t i = 0; i < take; ++i)
            out[written++] = static_cast<unsigned char>(bits >> (16 - 8 * i));
    }
    return static_cast<long>(written);
}

void ParseReleaseText(const char* text, size_t length, bool truncated, ReleaseLines* lines)
{
    memset(lines, 0, sizeof *lines);
    // The number as the version file reader sees it: the first 500 bytes, up to a zero byte.
    char head[kNumberReadLimit + 1] = {};
    memcpy(head, text, length < kNumberReadLimit ? length : kNumberReadLimit);
    lines->version = ParseVersionText(head);
    lines->readsNumber = VersionTextHasNumber(head);

    const char* end = text + length;
    const char* line = static_cast<const char*>(memchr(text, '\n', length));
    bool anyReleaseLine = false;
    while (line && line + 1 < end) {
        const char* start = line + 1;
        const char* next = static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
        size_t lineLength = static_cast<size_t>((next ? next : end) - start);
        if (lineLength > 0 && start[lineLength - 1] == '\r')
            --lineLength;
        if (lines->hasSignature) {
            // Only further signatures and line ends may follow the first signature: anything else
            // would not be covered.
            if (!ReadLineAfterSignature(start, lineLength, lines)) {
                lines->malformed = true;
                break;
            }
            line = next;
            continue;
        }
        if (ReleaseKeyOf(start, lineLength)) {
            anyReleaseLine = true;
            if (StartsWith(start, lineLength, "signature="))
                lines->signedLength = static_cast<size_t>(start - text);
            if (!ReadReleaseLine(start, lineLength, lines)) {
                lines->malformed = true;
                break;
            }
        }
        line = next;
    }
    if (truncated && anyReleaseLine)
        lines->malformed = true;
}

bool HasReleaseLines(const ReleaseLines& lines)
{
    return lines.malformed || lines.hasSize || lines.hasDigest || lines.hasSignature || lines.hasArchiveSize ||
           lines.hasArchiveDigest || lines.hasExpiry || lines.hasRollout;
}

bool ReleaseNeedsSignature(const ReleaseLines& lines, bool keyPresent)
{
    return keyPresent && !lines.malformed && lines.hasSignature;
}

bool ReleaseNeedsPack(const ReleaseLines& lines, bool keyPresent)
{
    if (lines.malformed)
        return false;
    if (keyPresent)
        return lines.hasSignature && lines.hasSize && lines.hasDigest;
    return lines.hasSize || lines.hasDigest;
}

ReleaseVerdict JudgeRelease(const ReleaseLines& lines, const PackFacts& facts)
{
    // Without a key an unreadable file is left to the version reader, as it always was.
    if (!facts.versionReadable)
        return facts.keyPresent ? kReleaseVersionUnreadable : kReleaseAccepted;
    if (lines.malformed)
        return kReleaseMalformed;
    if (facts.keyPresent) {
        if (!lines.hasSignature)
            return kReleaseNoSignature;
        if (facts.signatureStatus != 0)
            return kReleaseBadSignature;
        if (!lines.hasSize || !lines.hasDigest)
            return kReleaseUnsignedContent;
    }
    if (!facts.expiryWaived && ReleaseExpired(lines, facts.now))
        return kReleaseExpired;
    if (!facts.keyPresent && !lines.hasSize && !lines.hasDigest)
        return kReleaseAccepted;
    if (!facts.packReadable)
        return kReleasePackUnreadable;
    if (lines.hasSize && lines.size != facts.packSize)
        return kReleaseSizeMismatch;
    if (lines.hasDigest && memcmp(lines.digest, facts.packDigest, kReleaseDigestSize) != 0)
        return kReleaseDigestMismatch;
    return kReleaseAccepted;
}

void FormatReleaseRefusal(ReleaseVerdict verdict, const ReleaseLines& lines, const PackFacts& facts,
                          const wchar_t* versionFile, const wchar_t* packFile, wchar_t* line, size_t capacity)
{
    char expected[kDigestHexLength + 1];
    char actual[kDigestHexLength + 1];
    switch (verdict) {
    case kReleaseAccepted:
        BoundedFormat(line, capacity, L"");
        break;
    case kReleaseVersionUnreadable:
        BoundedFormat(line, capacity, L"Jre check failed: cannot read version file %s, error 0x%08lX", versionFile,
                      facts.versionError);
        break;
    case kReleaseMalformed:
        BoundedFormat(line, capacity, L"Jre check failed: unreadable release line in version file %s", versionFile);
        break;
    case kReleaseNoSignature:
        BoundedFormat(line, capacity, L"Jre check failed: no signature in version file %s", versionFile);
        break;
    case kReleaseBadSignature:
        if (facts.signatureStatus == kInvalidSignature)
            BoundedFormat(line, capacity, L"Jre check failed: signature does not verify, version file %s",
                          versionFile);
        else
            BoundedFormat(line, capacity, L"Jre check failed: signature check error 0x%08lX, version file %s",
                          static_cast<unsigned long>(facts.signatureStatus), versionFile);
        break;
    case kReleaseUnsignedContent:
        BoundedFormat(line, capacity, L"Jre check failed: no size or sha256 in signed version file %s",
                      versionFile);
        break;
    case kReleasePackUnreadable:
        BoundedFormat(line, capacity, L"Jre check failed: cannot read pack %s, error 0x%08lX", packFile,
                      facts.packError);
        break;
    case kReleaseSizeMismatch:
        BoundedFormat(line, capacity, L"Jre check failed: size %llu, version file says %llu, file %s",
                      static_cast<unsigned long long>(facts.packSize), static_cast<unsigned long long>(lines.size),
                      packFile);
        break;
    case kReleaseDigestMismatch:
        DigestHex(lines.digest, expected);
        DigestHex(facts.packDigest, actual);
        BoundedFormat(line, capacity, L"Jre check failed: sha256 %hs, version file says %hs, file %s", actual,
                      expected, packFile);
        break;
    case kReleaseExpired:
        BoundedFormat(line, capacity, L"Jre check failed: version file expired at %hs, version file %s",
                      lines.expiresText, versionFile);
        break;
    }
}

Announcement JudgeAnnouncement(const ReleaseLines& lines, bool readable, bool keyPresent, long signatureStatus,
                               int64_t now)
{
    Announcement a = {};
    a.version = lines.version;
    a.readsNumber = readable && lines.readsNumber;
    a.keyPresent = keyPresent;
    a.malformed = lines.malformed;
    a.verified = keyPresent && readable && !lines.malformed && lines.hasSignature && signatureStatus == 0;
    a.expired = !lines.malformed && ReleaseExpired(lines, now);
    a.hasArchiveSize = !lines.malformed && lines.hasArchiveSize;
    a.archiveSize = lines.archiveSize;
    a.hasArchiveDigest = !lines.malformed && lines.hasArchiveDigest;
    memcpy(a.archiveDigest, lines.archiveDigest, kReleaseDigestSize);
    memcpy(a.expiresText, lines.expiresText, sizeof a.expiresText);
    // A keyed launcher takes the share only from a file it verified; an unverified one goes on to
    // the pack check, which refuses it with its own line.
    bool trusted = !lines.malformed && (!keyPresent || a.verified);
    a.rollout = trusted && lines.hasRollout ? lines.rollout : kWholeFleet;
    return a;
}

ArchiveVerdict JudgeArchive(const Announcement& a, uint64_t size, const unsigned char* digest)
{
    if (a.malformed)
        return kArchiveMalformed;
    if (a.keyPresent && !a.verified)
        return kArchiveUnverified;
    if (a.expired)
        return kArchiveExpired;
    // With a key both lines must name the bytes; without one, the lines there are checked, as the
    // pack's are.
    if (a.keyPresent ? !(a.hasArchiveSize && a.hasArchiveDigest) : !(a.hasArchiveSize || a.hasArchiveDigest))
        return a.keyPresent ? kArchiveNotNamed : kArchiveUnchecked;
    if (a.hasArchiveSize && size != a.archiveSize)
        return kArchiveSizeMismatch;
    if (a.hasArchiveDigest && memcmp(digest, a.archiveDigest, kReleaseDigestSize) != 0)
        return kArchiveDigestMismatch;
    return kArchiveVouched;
}

void FormatArchiveRefusal(ArchiveVerdict verdict, const Announcement& a, uint64_t size, const unsigned char* digest,
                          wchar_t* text, size_t capacity)
{
    char expected[kDigestHexLength + 1];
    char actual[kDigestHexLength + 1];
    switch (verdict) {
    case kArchiveVouched:
    case kArchiveUnchecked:
        BoundedFormat(text, capacity, L"");
        break;
    case kArchiveNotNamed:
        BoundedFormat(text, capacity, L"die Versionsdatei nennt kein Launcher-Archiv");
        break;
    case kArchiveUnverified:
        BoundedFormat(text, capacity, L"die Versionsdatei ist nicht mit dem Release-Schl\u00fcssel signiert");
        break;
    case kArchiveMalformed:
        BoundedFormat(text, capacity, L"die Versionsdatei hat eine unlesbare Release-Zeile");
        break;
    case kArchiveExpired:
        BoundedFormat(text, capacity, L"die Versionsdatei ist seit %hs abgelaufen", a.expiresText);
        break;
    case kArchiveSizeMismatch:
        BoundedFormat(text, capacity, L"Gr\u00f6\u00dfe %llu, die Versionsdatei nennt %llu",
                      static_cast<unsigned long long>(size), static_cast<unsigned long long>(a.archiveSize));
        break;
    case kArchiveDigestMismatch:
        DigestHex(digest, actual);
        DigestHex(a.archiveDigest, expected);
        BoundedFormat(text, capacity, L"sha256 %hs, die Versionsdatei nennt %hs", actual, expected);
        break;
    }
}

InstallVerdict JudgeSecondFetch(const ReleaseLines& lines, bool keyPresent, bool verified, int decidingVersion,
                                int installedVersion, int64_t now)
{
    if (!lines.readsNumber)
        return kInstallNoNumber;
    if (!lines.malformed && ReleaseExpired(lines, now))
        return kInstallExpired;
    if (!keyPresent)
        return kInstallGoesOn;
    if (!verified)
        return kInstallUnverified;
    if (lines.version != decidingVersion)
        return kInstallNumberChanged;
    if (lines.version < installedVersion)
        return kInstallOlderThanInstalled;
    return kInstallGoesOn;
}
