#include "provision/refusal_rules.h"

#include <string.h>
#include <wchar.h>

#include "log/format.h"

namespace {

// The second form adds kept-at=; a record of the first form is not read and so is forgotten.
const wchar_t kFirstLine[] = L"tarvolin refused pack 2";
const wchar_t* const kKeys[] = {L"validator=", L"source=", L"version-sha256=", L"kept-at=", L"line="};
enum : size_t { kKeyCount = sizeof kKeys / sizeof kKeys[0], kDigestHexLength = 2 * kReleaseDigestSize };

bool HasLineBreak(const wchar_t* value)
{
    return wcschr(value, L'\n') || wcschr(value, L'\r');
}

bool ReadValue(const wchar_t* value, size_t length, wchar_t* out, size_t capacity)
{
    if (length == 0 || length >= capacity)
        return false;
    wmemcpy(out, value, length);
    out[length] = L'\0';
    return true;
}

bool ReadDigestValue(const wchar_t* value, size_t length, unsigned char* digest)
{
    char hex[kDigestHexLength];
    if (length != kDigestHexLength)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] > 0x7F)
            return false;
        hex[i] = static_cast<char>(value[i]);
    }
    return DecodeHex(hex, length, digest, kReleaseDigestSize);
}

// Decimal digits only, at least one, at most 18 (well inside 64 bits).
bool ReadSeconds(const wchar_t* value, size_t length, int64_t* seconds)
{
    if (length == 0 || length > 18)
        return false;
    int64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] < L'0' || value[i] > L'9')
            return false;
        result = result * 10 + (value[i] - L'0');
    }
    *seconds = result;
    return true;
}

} // namespace

size_t FormatPackRefusal(const PackRefusal& refusal, wchar_t* text, size_t capacity)
{
    if (!refusal.validator[0] || !refusal.source[0] || !refusal.line[0] || HasLineBreak(refusal.validator) ||
        HasLineBreak(refusal.source) || HasLineBreak(refusal.line))
        return 0;
    wchar_t hex[kDigestHexLength + 1];
    for (size_t i = 0; i < kReleaseDigestSize; ++i)
        BoundedFormat(hex + 2 * i, 3, L"%02x", refusal.versionDigest[i]);
    if (refusal.keptAt < 0 ||
        BoundedFormat(text, capacity, L"%s\n%s%s\n%s%s\n%s%s\n%s%lld\n%s%s\n", kFirstLine, kKeys[0], refusal.validator,
                      kKeys[1], refusal.source, kKeys[2], hex, kKeys[3], static_cast<long long>(refusal.keptAt),
                      kKeys[4], refusal.line) != kFormatOk)
        return 0;
    return wcslen(text);
}

bool ParsePackRefusal(const wchar_t* text, size_t length, PackRefusal* refusal)
{
    PackRefusal parsed = {};
    const wchar_t* p = text;
    const wchar_t* end = text + length;
    for (size_t index = 0; index <= kKeyCount; ++index) {
        const wchar_t* lineEnd = wmemchr(p, L'\n', static_cast<size_t>(end - p));
        if (!lineEnd)
            return false;
        size_t lineLength = static_cast<size_t>(lineEnd - p);
        if (index == 0) {
            if (lineLength != wcslen(kFirstLine) || wmemcmp(p, kFirstLine, lineLength) != 0)
                return false;
        } else {
            size_t keyLength = wcslen(kKeys[index - 1]);
            if (lineLength < keyLength || wmemcmp(p, kKeys[index - 1], keyLength) != 0)
                return false;
            const wchar_t* value = p + keyLength;
            size_t valueLength = lineLength - keyLength;
            bool read = index == 1   ? ReadValue(value, valueLength, parsed.validator, kValidatorCapacity)
                        : index == 2 ? ReadValue(value, valueLength, parsed.source, kResumeSourceCapacity)
                        : index == 3 ? ReadDigestValue(value, valueLength, parsed.versionDigest)
                        : index == 4 ? ReadSeconds(value, valueLength, &parsed.keptAt)
                                     : ReadValue(value, valueLength, parsed.line, kRefusalLineCapacity);
            if (!read || wmemchr(value, L'\r', valueLength))
                return false;
        }
        p = lineEnd + 1;
    }
    if (p != end)
        return false;
    *refusal = parsed;
    return true;
}

bool RefusalStillApplies(const PackRefusal& refusal, const wchar_t* source, const unsigned char* versionDigest,
                         int64_t now)
{
    return wcscmp(refusal.source, source) == 0 &&
           memcmp(refusal.versionDigest, versionDigest, kReleaseDigestSize) == 0 && now >= refusal.keptAt &&
           now - refusal.keptAt < kRefusalLifetimeSeconds;
}

bool RefusalMayBeKept(bool oneWholeAnswer, bool notAProgram, ReleaseVerdict verdict)
{
    if (!oneWholeAnswer)
        return false;
    if (notAProgram)
        return true;
    switch (verdict) {
    case kReleaseSizeMismatch:
    case kReleaseDigestMismatch:
    case kReleaseMalformed:       // the version file's bytes, whose digest the refusal keeps
    case kReleaseNoSignature:
    case kReleaseUnsignedContent:
        return true;
    default:
        // A bad signature's status may be a failed call rather than a verdict (and a keyed
        // launcher stops an unverified version file before the pack is asked for); the others
        // are an unreadable file or the clock.
        return false;
    }
}
