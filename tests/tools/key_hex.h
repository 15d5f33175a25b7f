// The release key as the tools take it on their command line: the raw X||Y of the P-256 public
// key as 128 hex digits, read by the program's own hex reader.
#pragma once

#include <wchar.h>

#include "provision/release_rules.h"

inline bool ReadKeyHex(const wchar_t* hex, unsigned char* key)
{
    char text[2 * kReleasePublicKeySize];
    size_t length = wcslen(hex);
    if (length != sizeof text)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (hex[i] > 0x7F)
            return false;
        text[i] = static_cast<char>(hex[i]);
    }
    return DecodeHex(text, length, key, kReleasePublicKeySize);
}
