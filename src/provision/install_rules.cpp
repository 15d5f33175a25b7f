#include "provision/install_rules.h"

#include <stdint.h>

#include "log/format.h"

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
