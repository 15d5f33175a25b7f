#include "worker/path_rules.h"

#include <windows.h>

#include <wchar.h>

namespace {

enum : int { kRoundTripCapacity = 1024 };

} // namespace

bool SurvivesCodePage(const wchar_t* text, unsigned codePage)
{
    int length = static_cast<int>(wcslen(text));
    if (length == 0)
        return true;
    if (length >= kRoundTripCapacity)
        return false;
    // WC_NO_BEST_FIT_CHARS keeps look-alikes out, and lpUsedDefaultChar reports a character the
    // code page lacks; UTF-8 accepts neither ("WideCharToMultiByte function", learn.microsoft.com:
    // for CP_UTF8 dwFlags must be 0 or WC_ERR_INVALID_CHARS and lpUsedDefaultChar null).
    bool utf8 = codePage == CP_UTF8;
    char bytes[4 * kRoundTripCapacity];
    BOOL usedDefault = FALSE;
    int byteCount = WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, length,
                                        bytes, sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (byteCount <= 0 || usedDefault)
        return false;
    wchar_t back[kRoundTripCapacity];
    int backCount = MultiByteToWideChar(codePage, 0, bytes, byteCount, back, kRoundTripCapacity);
    return backCount == length && wmemcmp(back, text, static_cast<size_t>(length)) == 0;
}
