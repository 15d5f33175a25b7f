// The release key as the tools take it on their command line: the raw X||Y of the P-256 public
// key as 128 hex digits.
#pragma once

#include <wchar.h>

#include "provision/release_rules.h"

inline int KeyHexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

inline bool ReadKeyHex(const wchar_t* hex, unsigned char* key)
{
    if (wcslen(hex) != 2 * kReleasePublicKeySize)
        return false;
    for (size_t i = 0; i < kReleasePublicKeySize; ++i) {
        int high = KeyHexDigit(hex[2 * i]);
        int low = KeyHexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        key[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}
