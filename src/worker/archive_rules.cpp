#include "worker/archive_rules.h"

#include <string.h>
#include <wchar.h>

#include "log/format.h"

namespace {

const char kFirstLine[] = "tarvolin launcher archive copy 1";
const char* const kKeys[] = {"file=", "validator=", "length=", "sha256=", "vouched=", "expires="};
enum : size_t { kKeyCount = sizeof kKeys / sizeof kKeys[0], kDigestHexLength = 2 * kReleaseDigestSize };

bool Append(char* text, size_t capacity, size_t* used, const char* piece, size_t length)
{
    if (length >= capacity - *used)
        return false;
    memcpy(text + *used, piece, length);
    *used += length;
    text[*used] = '\0';
    return true;
}

bool AppendText(char* text, size_t capacity, size_t* used, const char* piece)
{
    return Append(text, capacity, used, piece, strlen(piece));
}

// Printable ASCII only: the text is read back byte for byte.
bool AppendWide(char* text, size_t capacity, size_t* used, const wchar_t* value)
{
    for (const wchar_t* p = value; *p; ++p) {
        if (*p < 0x20 || *p > 0x7E)
            return false;
        char c = static_cast<char>(*p);
        if (!Append(text, capacity, used, &c, 1))
            return false;
    }
    return true;
}

bool AppendNumber(char* text, size_t capacity, size_t* used, uint64_t value)
{
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (size_t i = 0; i < count / 2; ++i) {
        char swap = digits[i];
        digits[i] = digits[count - 1 - i];
        digits[count - 1 - i] = swap;
    }
    return Append(text, capacity, used, digits, count);
}

bool ReadWide(const char* text, size_t length, wchar_t* out, size_t capacity)
{
    if (length >= capacity)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < 0x20 || text[i] > 0x7E)
            return false;
        out[i] = static_cast<wchar_t>(text[i]);
    }
    out[length] = L'\0';
    return true;
}

} // namespace

size_t FormatArchiveCopyMeta(const ArchiveCopy& copy, char* text, size_t capacity)
{
    static const char kHexDigits[] = "0123456789abcdef";
    char hex[kDigestHexLength + 1];
    for (size_t i = 0; i < kReleaseDigestSize; ++i) {
        hex[2 * i] = kHexDigits[copy.sha256[i] >> 4];
        hex[2 * i + 1] = kHexDigits[copy.sha256[i] & 15];
    }
    hex[kDigestHexLength] = '\0';
    if (capacity == 0 || !IsArchiveCopyName(copy.fileName))
        return 0;
    size_t used = 0;
    text[0] = '\0';
    bool fits = AppendText(text, capacity, &used, kFirstLine) && AppendText(text, capacity, &used, "\r\nfile=") &&
                AppendWide(text, capacity, &used, copy.fileName) &&
                AppendText(text, capacity, &used, "\r\nvalidator=") &&
                AppendWide(text, capacity, &used, copy.validator) &&
                AppendText(text, capacity, &used, "\r\nlength=") &&
                AppendNumber(text, capacity, &used, copy.length) &&
                AppendText(text, capacity, &used, "\r\nsha256=") && AppendText(text, capacity, &used, hex) &&
                AppendText(text, capacity, &used, copy.vouched ? "\r\nvouched=1" : "\r\nvouched=0") &&
                AppendText(text, capacity, &used, "\r\nexpires=") &&
                AppendText(text, capacity, &used, copy.hasExpiry ? copy.expiresText : "") &&
                AppendText(text, capacity, &used, "\r\n");
    return fits ? used : 0;
}

bool ParseArchiveCopyMeta(const char* text, size_t size, ArchiveCopy* copy)
{
    ArchiveCopy parsed = {};
    const char* p = text;
    const char* end = text + size;
    // The first line, then each key's line in its order, each ending in CRLF, and nothing after.
    for (size_t index = 0; index <= kKeyCount; ++index) {
        const char* lineEnd = static_cast<const char*>(memchr(p, '\r', static_cast<size_t>(end - p)));
        if (!lineEnd || lineEnd + 1 >= end || lineEnd[1] != '\n')
            return false;
        size_t length = static_cast<size_t>(lineEnd - p);
        if (index == 0) {
            if (length != strlen(kFirstLine) || memcmp(p, kFirstLine, length) != 0)
                return false;
        } else {
            size_t keyLength = strlen(kKeys[index - 1]);
            if (length < keyLength || memcmp(p, kKeys[index - 1], keyLength) != 0)
                return false;
            const char* value = p + keyLength;
            size_t valueLength = length - keyLength;
            bool read = false;
            switch (index) {
            case 1:
                read = ReadWide(value, valueLength, parsed.fileName, kArchiveCopyNameCapacity) &&
                       IsArchiveCopyName(parsed.fileName);
                break;
            case 2:
                read = ReadWide(value, valueLength, parsed.validator, kValidatorCapacity);
                break;
            case 3:
                read = ReadDecimal(value, valueLength, &parsed.length);
                break;
            case 4:
                read = DecodeHex(value, valueLength, parsed.sha256, kReleaseDigestSize);
                break;
            case 5:
                read = valueLength == 1 && (value[0] == '0' || value[0] == '1');
                parsed.vouched = read && value[0] == '1';
                break;
            case 6:
                read = valueLength == 0 || ParseUtcTime(value, valueLength, &parsed.expiresAt);
                parsed.hasExpiry = valueLength > 0 && read;
                if (parsed.hasExpiry) {
                    memcpy(parsed.expiresText, value, kUtcTimeLength);
                    parsed.expiresText[kUtcTimeLength] = '\0';
                }
                break;
            }
            if (!read)
                return false;
        }
        p = lineEnd + 2;
    }
    if (p != end)
        return false;
    *copy = parsed;
    return true;
}

bool FormatArchiveCopyName(unsigned number, wchar_t* name, size_t capacity)
{
    return BoundedFormat(name, capacity, L"launcher-%u.jar", number) == kFormatOk;
}

bool IsArchiveCopyName(const wchar_t* name)
{
    static const wchar_t kPrefix[] = L"launcher-";
    static const wchar_t kSuffix[] = L".jar";
    size_t length = wcsnlen(name, kArchiveCopyNameCapacity);
    size_t prefix = wcslen(kPrefix);
    size_t suffix = wcslen(kSuffix);
    if (length >= kArchiveCopyNameCapacity || length <= prefix + suffix || length - prefix - suffix > 10)
        return false;
    for (size_t i = 0; i < prefix; ++i)
        if (towlower(name[i]) != kPrefix[i])
            return false;
    for (size_t i = 0; i < suffix; ++i)
        if (towlower(name[length - suffix + i]) != kSuffix[i])
            return false;
    for (size_t i = prefix; i < length - suffix; ++i)
        if (name[i] < L'0' || name[i] > L'9')
            return false;
    return true;
}

unsigned ArchiveCopyNumber(const wchar_t* name)
{
    if (!IsArchiveCopyName(name))
        return 0;
    uint64_t number = 0;
    for (const wchar_t* p = name + wcslen(L"launcher-"); *p >= L'0' && *p <= L'9'; ++p)
        number = number * 10 + static_cast<uint64_t>(*p - L'0'); // ten digits at most: no overflow
    return number > 0xFFFFFFFFu ? 0 : static_cast<unsigned>(number);
}

bool ArchiveCopyMayBeDeleted(unsigned number, unsigned runningNumber, unsigned newestNumber, bool newestSettled)
{
    if (number == 0 || number == newestNumber || number == runningNumber || !newestSettled)
        return false;
    return runningNumber == 0 || number < runningNumber;
}

bool ArchiveCopyUsableOffline(const ArchiveCopy& copy, const Announcement& arrived, int64_t now)
{
    if (!arrived.keyPresent)
        return true;
    if (!copy.vouched || (copy.hasExpiry && now >= copy.expiresAt))
        return false;
    return !arrived.verified || (arrived.hasArchiveSize && arrived.hasArchiveDigest && arrived.archiveSize == copy.length &&
                                 memcmp(arrived.archiveDigest, copy.sha256, kReleaseDigestSize) == 0);
}

bool ReleaseOlderThanSeen(const Announcement& announcement, int highestSeen)
{
    return announcement.keyPresent && announcement.verified && announcement.version < highestSeen;
}

bool ArchiveCopyNamedByAnnouncement(const ArchiveCopy& copy, const Announcement& announcement)
{
    // Both lines: a size alone (possible without a key) does not tell one archive from another.
    return announcement.hasArchiveSize && announcement.hasArchiveDigest &&
           JudgeArchive(announcement, copy.length, copy.sha256) == kArchiveVouched;
}

void NoteVouching(ArchiveCopy* copy, const Announcement& announcement, bool vouched)
{
    copy->vouched = vouched && announcement.keyPresent && announcement.verified;
    copy->hasExpiry = announcement.expiresText[0] != '\0';
    memcpy(copy->expiresText, announcement.expiresText, sizeof copy->expiresText);
    copy->expiresAt = 0;
    if (copy->hasExpiry)
        ParseUtcTime(copy->expiresText, kUtcTimeLength, &copy->expiresAt);
}
