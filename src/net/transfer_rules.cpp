// Standard headers only, so that these rules also build natively for fuzzing.
#include "net/transfer_rules.h"

#include <wchar.h>

#include "log/format.h"

void StartLowSpeedWatch(LowSpeedWatch* watch, uint64_t nowMs, uint64_t receivedBytes)
{
    *watch = LowSpeedWatch{nowMs, receivedBytes, nowMs, receivedBytes};
}

bool TransferTooSlow(LowSpeedWatch* watch, uint64_t nowMs, uint64_t receivedBytes)
{
    // A clock or count that went back is taken as a new start rather than as progress.
    if (nowMs < watch->windowStartMs || receivedBytes < watch->windowStartBytes) {
        StartLowSpeedWatch(watch, nowMs, receivedBytes);
        return false;
    }
    if (receivedBytes > watch->lastBytes) {
        watch->lastBytes = receivedBytes;
        watch->lastGainMs = nowMs;
    } else if (nowMs >= watch->lastGainMs && nowMs - watch->lastGainMs >= kLowSpeedTimeMs) {
        return true;
    }
    if (nowMs - watch->windowStartMs < kLowSpeedTimeMs)
        return false;
    if (receivedBytes - watch->windowStartBytes < kLowSpeedLimitBytes)
        return true;
    watch->windowStartMs = nowMs;
    watch->windowStartBytes = receivedBytes;
    return false;
}

bool AnnouncedLengthOverLimit(bool hasLength, uint64_t announced, uint64_t limit)
{
    return hasLength && announced > limit;
}

uint64_t BytesWithinLimit(uint64_t written, uint64_t size, uint64_t limit)
{
    if (written >= limit)
        return 0;
    uint64_t room = limit - written;
    return size < room ? size : room;
}

PackLimit ChoosePackLimit(uint64_t expectedSize, bool announcedKnown, uint64_t announcedLength)
{
    if (expectedSize > 0)
        return PackLimit{announcedKnown && announcedLength != expectedSize, true, expectedSize};
    if (announcedKnown)
        return PackLimit{false, true, announcedLength};
    return PackLimit{false, false, 0};
}

bool RoomLeftWhileReceiving(uint64_t freeBytes, uint64_t receivedBytes)
{
    uint64_t keep = receivedBytes > UINT64_MAX / 2 ? UINT64_MAX : receivedBytes * 2;
    return freeBytes >= keep;
}

bool FormatConditionalHeaders(wchar_t* out, size_t capacity, const wchar_t* validator)
{
    if (capacity > 0)
        out[0] = L'\0';
    if (!validator || !*validator)
        return false;
    for (const wchar_t* p = validator; *p; ++p)
        if (*p < 0x20 || *p > 0x7E)
            return false;
    bool etag = validator[0] == L'"' || (validator[0] == L'W' && validator[1] == L'/');
    const wchar_t* format = etag ? L"If-None-Match: %s\r\n" : L"If-Modified-Since: %s\r\n";
    if (BoundedFormat(out, capacity, format, validator) != kFormatOk) {
        if (capacity > 0)
            out[0] = L'\0';
        return false;
    }
    return true;
}

ConnectBudget PlanConnectBudget(int resolvedAddresses)
{
    int addresses = resolvedAddresses > 0 && resolvedAddresses < kMaxConnectAddresses ? resolvedAddresses
                                                                                      : kMaxConnectAddresses;
    return {addresses, kConnectDeadlineMs / addresses};
}
