// The bounds every download keeps, in one place and without the platform, so unit tests and the
// native fuzz target call them directly: how many bytes a download may write, when a transfer is
// too slow to go on, how long each step of a request may take, how much room the cache folder's
// volume must keep while a pack of unknown length arrives, and the headers of a conditional
// request.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Byte limits of the downloads: the version file, the launcher archive, and none at all.
const uint64_t kVersionFileByteLimit = 64 * 1024;
const uint64_t kArchiveByteLimit = 256ull * 1024 * 1024;
const uint64_t kNoByteLimit = UINT64_MAX;

// The low-speed rule: a download ends when it received fewer than kLowSpeedLimitBytes in
// kLowSpeedTimeMs.
const uint64_t kLowSpeedLimitBytes = 1024;
const uint64_t kLowSpeedTimeMs = 60000;

// The time-outs of every request (WinHttpSetTimeouts). Receiving waits a little longer than the
// low-speed window, so that a connection that goes silent is ended by the rule's stall check, with
// the rule's log line, rather than by the time-out.
const int kResolveTimeoutMs = 15000;
const int kSendTimeoutMs = 30000;
const int kReceiveTimeoutMs = static_cast<int>(kLowSpeedTimeMs) + 5000;

// One deadline for connecting to a host, however many addresses it has. WinHTTP's connect time-out
// holds for each address it tries, one after the other, up to WINHTTP_OPTION_CONNECT_RETRIES
// addresses (5 unless set): a host whose addresses all drop packets would hold an attempt for the
// time-out times the addresses. The deadline is shared out instead: at most kMaxConnectAddresses
// addresses are tried, each for an equal share.
const int kConnectDeadlineMs = 20000;
const int kMaxConnectAddresses = 4;
struct ConnectBudget {
    int addresses;    // for WINHTTP_OPTION_CONNECT_RETRIES
    int perAddressMs; // the connect time-out
};
// resolvedAddresses: how many addresses the name WinHTTP connects to has; 0 when unknown (then
// the most that may be tried).
ConnectBudget PlanConnectBudget(int resolvedAddresses);

// How far apart the volume's free room is looked at while a pack of unknown length arrives.
const uint64_t kRoomCheckIntervalBytes = 4 * 1024 * 1024;

// The low-speed rule's window, stepped: it starts with the body, and each time kLowSpeedTimeMs
// have passed with at least kLowSpeedLimitBytes received it starts again from there. Besides, a
// transfer that received nothing at all for kLowSpeedTimeMs is too slow at once, whenever the
// window began (a stall seen when a read gives up).
struct LowSpeedWatch {
    uint64_t windowStartMs;
    uint64_t windowStartBytes;
    uint64_t lastGainMs;  // when the received count last grew
    uint64_t lastBytes;
};

void StartLowSpeedWatch(LowSpeedWatch* watch, uint64_t nowMs, uint64_t receivedBytes);
// Called with the time and the bytes received so far, after each read and when a read gives up.
// True when the transfer is too slow to go on; otherwise the window moves on as described.
bool TransferTooSlow(LowSpeedWatch* watch, uint64_t nowMs, uint64_t receivedBytes);

// A body announced longer than limit is refused before anything is written.
bool AnnouncedLengthOverLimit(bool hasLength, uint64_t announced, uint64_t limit);
// The bytes of a chunk of size that may still be written after written bytes under limit; less
// than size means the body grew past the limit, and the download stops there.
uint64_t BytesWithinLimit(uint64_t written, uint64_t size, uint64_t limit);

// The runtime pack's limit: the size the version file names (expectedSize, 0 when it names none),
// else the full length the answer announces. An announced length that contradicts a named size
// refuses the answer before anything is written. Without either, lengthKnown is false and the
// volume's room is watched instead (RoomLeftWhileReceiving).
struct PackLimit {
    bool refuse;
    bool lengthKnown;
    uint64_t fullLength;
};
PackLimit ChoosePackLimit(uint64_t expectedSize, bool announcedKnown, uint64_t announcedLength);

// While a pack of unknown length arrives the volume keeps free at least twice the bytes received
// so far: room to unpack what arrived. Saturates instead of wrapping.
bool RoomLeftWhileReceiving(uint64_t freeBytes, uint64_t receivedBytes);

enum : size_t { kConditionalHeadersCapacity = 300 };

// The header that asks the server for a file only when it changed: "If-None-Match: <etag>\r\n"
// for an ETag (it starts with a quote, or with W/ for a weak one), "If-Modified-Since: <date>\r\n"
// for an HTTP date. False, with out empty, when validator is null, empty or not printable ASCII,
// or the header does not fit.
bool FormatConditionalHeaders(wchar_t* out, size_t capacity, const wchar_t* validator);
