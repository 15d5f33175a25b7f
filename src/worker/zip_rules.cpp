#include "worker/zip_rules.h"

#include <stdint.h>

namespace {

uint32_t Read16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Read32(const unsigned char* p) { return Read16(p) | Read16(p + 2) << 16; }

bool HasSignature(const unsigned char* bytes, size_t size, uint64_t offset, uint32_t signature)
{
    return offset <= size && size - offset >= 4 && Read32(bytes + offset) == signature;
}

enum : uint32_t {
    kLocalFileSignature = 0x04034b50,
    kCentralFileSignature = 0x02014b50,
    kEndSignature = 0x06054b50,
    kZip64EndSignature = 0x06064b50,
    kZip64LocatorSignature = 0x07064b50,
    kEndSize = 22,
    kZip64LocatorSize = 20,
};

} // namespace

bool IsWholeZipArchive(const unsigned char* bytes, size_t size)
{
    if (!bytes || !HasSignature(bytes, size, 0, kLocalFileSignature) || size < kEndSize)
        return false;
    // The end record is the last thing in the file: its comment reaches exactly to the end.
    size_t lowest = size - kEndSize > 0xFFFF ? size - kEndSize - 0xFFFF : 0;
    for (size_t end = size - kEndSize + 1; end-- > lowest;) {
        const unsigned char* e = bytes + end;
        if (Read32(e) != kEndSignature || end + kEndSize + Read16(e + 20) != size)
            continue;
        uint32_t disk = Read16(e + 4), centralDisk = Read16(e + 6);
        uint32_t entriesHere = Read16(e + 8), entries = Read16(e + 10);
        uint64_t centralSize = Read32(e + 12), centralOffset = Read32(e + 16);
        bool zip64 = entries == 0xFFFF || entriesHere == 0xFFFF || centralSize == 0xFFFFFFFF ||
                     centralOffset == 0xFFFFFFFF;
        if (zip64) {
            // The locator stands right before the end record and names the zip64 end record.
            if (end < kZip64LocatorSize || !HasSignature(bytes, size, end - kZip64LocatorSize, kZip64LocatorSignature))
                return false;
            const unsigned char* locator = bytes + end - kZip64LocatorSize;
            uint64_t record = uint64_t(Read32(locator + 8)) | uint64_t(Read32(locator + 12)) << 32;
            return record < end && HasSignature(bytes, size, record, kZip64EndSignature);
        }
        if (disk != 0 || centralDisk != 0 || entriesHere != entries)
            return false;
        if (centralOffset + centralSize != end)
            return false;
        return entries == 0 || HasSignature(bytes, size, centralOffset, kCentralFileSignature);
    }
    return false;
}
