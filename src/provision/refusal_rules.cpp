#include "provision/refusal_rules.h"

#include <string.h>
#include <wchar.h>

#include "log/format.h"

namespace {

const wchar_t kFirstLine[] = L"tarvolin refused pack 1";
const wchar_t* const kKeys[] = {L"validator=", L"source=", L"version-sha256=", L"line="};
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

} // namespace

size_t FormatPackRefusal(const PackRefusal& refusal, wchar_t* text, size_t capacity)
{
    if (!refusal.validator[0] || !refusal.source[0] || !refusal.line[0] || HasLineBreak(refusal.validator) ||
        HasLineBreak(refusal.source) || HasLineBreak(refusal.line))
        return 0;
    wchar_t hex[kDigestHexLength + 1];
    for (size_t i = 0; i < kReleaseDigestSize; ++i)
        BoundedFormat(hex + 2 * i, 3, L"%02x", refusal.versionDigest[i]);
    if (BoundedFormat(text, capacity, L"%s\n%s%s\n%s%s\n%s%s\n%s%s\n", kFirstLine, kKeys[0], refusal.validator, kKeys[1],
                      refusal.source, kKeys[2], hex, kKeys[3], refusal.line) != kFormatOk)
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

bool RefusalStillApplies(const PackRefusal& refusal, const wchar_t* source, const unsigned char* versionDigest)
{
    return wcscmp(refusal.source, source) == 0 &&
           memcmp(refusal.versionDigest, versionDigest, kReleaseDigestSize) == 0;
}
