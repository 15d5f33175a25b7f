#include "provision/install_rules.h"

#include <stdint.h>
#include <string.h>

#include "log/format.h"
#include "provision/release_rules.h"

namespace {

enum : size_t { kDosHeaderSize = 0x40, kPeOffsetField = 0x3C, kPeSignatureSize = 4 };

uint32_t ReadLittle32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

wchar_t FoldCase(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

} // namespace

bool IsWindowsProgramImage(const unsigned char* head, size_t headSize)
{
    if (!head || headSize < kDosHeaderSize || head[0] != 'M' || head[1] != 'Z')
        return false;
    uint32_t peOffset = ReadLittle32(head + kPeOffsetField);
    if (peOffset < kDosHeaderSize || peOffset > headSize - kPeSignatureSize)
        return false;
    const unsigned char* pe = head + peOffset;
    return pe[0] == 'P' && pe[1] == 'E' && pe[2] == 0 && pe[3] == 0;
}

void InstallLockName(const wchar_t* cacheFolder, wchar_t* name, size_t capacity)
{
    // FNV-1a over the case-folded UTF-16 units: Windows paths compare without regard to case.
    uint64_t hash = 14695981039346656037ULL;
    for (const wchar_t* p = cacheFolder ? cacheFolder : L""; *p; ++p) {
        wchar_t c = FoldCase(*p == L'/' ? L'\\' : *p);
        hash = (hash ^ (c & 0xFF)) * 1099511628211ULL;
        hash = (hash ^ (c >> 8)) * 1099511628211ULL;
    }
    BoundedFormat(name, capacity, L"Local\\tarvolin-runtime-%016llx", static_cast<unsigned long long>(hash));
}

SetAsideRepair DecideSetAsideRepair(bool runtimeExists, bool runtimeWhole, bool setAsideExists, bool setAsideWhole)
{
    if (!setAsideExists)
        return kSetAsideNone;
    if (runtimeExists && runtimeWhole)
        return kSetAsideDelete;
    // Without a runtime folder at all the set-aside one is the best there is, whole or not.
    if (setAsideWhole || !runtimeExists)
        return kSetAsidePutBack;
    return kSetAsideKeep;
}

SwitchClearing DecideSwitchClearing(bool runtimeExists, bool runtimeWhole, bool setAsideExists)
{
    if (!setAsideExists || !runtimeExists)
        return kSwitchClearNothing;
    return runtimeWhole ? kSwitchDeleteSetAside : kSwitchRemoveRuntime;
}

InstallVersionSource ChooseInstallVersionFile(bool secondNamesNumber, bool wholeRuntimeInstalled,
                                              bool firstNamesNumber)
{
    if (secondNamesNumber)
        return kInstallVersionSecond;
    // With a runtime to launch, a missing second file only delays the install to the next start.
    if (wholeRuntimeInstalled || !firstNamesNumber)
        return kInstallVersionNone;
    return kInstallVersionFirst;
}

OfflineRelease JudgeOfflineRelease(bool wholeRuntimeInstalled, bool serverNamedNumber, bool delivered,
                                   const ReleaseLines& lines, bool keyPresent, bool verified, int floor, int64_t now)
{
    if (wholeRuntimeInstalled || serverNamedNumber)
        return kOfflineNotAsked;
    if (!delivered)
        return kOfflineNothingDelivered;
    if (!lines.readsNumber)
        return kOfflineNoNumber;
    // Without a key nothing is verified, so no number is known to be genuine: as for the server's
    // file, the floor holds only with one.
    if (keyPresent && !verified)
        return kOfflineUnverified;
    if (keyPresent && lines.version < floor)
        return kOfflineOlderThanSeen;
    if (!lines.malformed && ReleaseExpired(lines, now))
        return kOfflineInstallsExpired;
    return kOfflineInstalls;
}

int ChooseStagingSlot(const bool* slotClear, int count)
{
    for (int i = 0; slotClear && i < count; ++i)
        if (slotClear[i])
            return i;
    return -1;
}

namespace {

const char kVersionKey[] = "version-sha256=";
const char kPackKey[] = "pack-sha256=";
enum : size_t { kDigestHexLength = 2 * kStagedDigestSize };

size_t AppendDigestLine(const char* key, const unsigned char* digest, char* text, size_t at, size_t capacity)
{
    size_t keyLength = strlen(key);
    if (at + keyLength + kDigestHexLength + 1 >= capacity)
        return 0;
    memcpy(text + at, key, keyLength);
    at += keyLength;
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < kStagedDigestSize; ++i) {
        text[at++] = hex[digest[i] >> 4];
        text[at++] = hex[digest[i] & 15];
    }
    text[at++] = '\n';
    text[at] = '\0';
    return at;
}

} // namespace

size_t FormatStagedRelease(const unsigned char* versionDigest, const unsigned char* packDigest, char* text,
                           size_t capacity)
{
    if (!versionDigest || !text || capacity == 0)
        return 0;
    size_t length = AppendDigestLine(kVersionKey, versionDigest, text, 0, capacity);
    if (length && packDigest)
        length = AppendDigestLine(kPackKey, packDigest, text, length, capacity);
    return length;
}

bool StagedReleaseMatches(const char* text, size_t length, const unsigned char* versionDigest)
{
    size_t keyLength = sizeof kVersionKey - 1;
    unsigned char named[kStagedDigestSize];
    if (!text || !versionDigest || length < keyLength + kDigestHexLength + 1 ||
        memcmp(text, kVersionKey, keyLength) != 0 || text[keyLength + kDigestHexLength] != '\n' ||
        !DecodeHex(text + keyLength, kDigestHexLength, named, kStagedDigestSize))
        return false;
    return memcmp(named, versionDigest, kStagedDigestSize) == 0;
}
