// Reading a payload record needs no platform; standard headers only, so it also builds natively
// for fuzzing.
#include "provision/payload.h"

uint32_t PayloadDataLength(const unsigned char* record)
{
    return (uint32_t(record[8]) << 24) | (uint32_t(record[9]) << 16) | (uint32_t(record[10]) << 8) | record[11];
}

const unsigned char* PayloadRecordData(const unsigned char* block, size_t blockSize, size_t* length)
{
    *length = 0;
    if (blockSize < kPayloadHeaderSize)
        return nullptr;
    uint32_t claimed = PayloadDataLength(block);
    if (claimed > blockSize - kPayloadHeaderSize)
        return nullptr;
    *length = claimed;
    return block + kPayloadHeaderSize;
}
