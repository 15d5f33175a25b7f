// A payload block of any size and content: the data span the reader gives lies inside the block
// and has the length the big-endian field names; a block that cannot hold it gives none.
#include <string.h>

#include <vector>

#include "fuzz_text.h"
#include "provision/payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A block of exactly the input's size, so that any read past it is caught.
    std::vector<unsigned char> block(data, data + size);
    size_t length = 12345;
    const unsigned char* record = PayloadRecordData(block.data(), block.size(), &length);
    if (size < kPayloadHeaderSize) {
        FUZZ_CHECK(record == nullptr && length == 0);
        return 0;
    }
    uint64_t claimed = uint64_t(data[8]) << 24 | uint64_t(data[9]) << 16 | uint64_t(data[10]) << 8 | data[11];
    if (claimed > size - kPayloadHeaderSize) {
        FUZZ_CHECK(record == nullptr && length == 0);
        return 0;
    }
    FUZZ_CHECK(record == block.data() + kPayloadHeaderSize && length == claimed);
    FUZZ_CHECK(memcmp(record, data + kPayloadHeaderSize, length) == 0);
    return 0;
}
