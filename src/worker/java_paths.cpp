#include "worker/java_paths.h"

#include <windows.h>

#include <wchar.h>

#include "log/format.h"
#include "log/log.h"
#include "worker/path_rules.h"

namespace {

// The short form of path, or of its folder followed by its last part; false when there is none.
bool ShortForm(const wchar_t* path, wchar_t* out)
{
    DWORD length = GetShortPathNameW(path, out, kPathCapacity);
    if (length > 0 && length < kPathCapacity)
        return true;
    const wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash)
        return false;
    wchar_t folder[kPathCapacity];
    if (BoundedFormat(folder, kPathCapacity, L"%.*s", static_cast<int>(slash - path), path) != kFormatOk)
        return false;
    length = GetShortPathNameW(folder, out, kPathCapacity);
    if (length == 0 || length >= kPathCapacity)
        return false;
    return BoundedFormat(out + length, kPathCapacity - length, L"%s", slash) == kFormatOk;
}

} // namespace

JavaPath JavaReadablePath(const wchar_t* path)
{
    JavaPath result = {};
    if (!path)
        return result;
    BoundedFormat(result.text, kPathCapacity, L"%s", path);
    UINT codePage = GetACP();
    if (SurvivesCodePage(path, codePage))
        return result;
    wchar_t shortPath[kPathCapacity];
    if (ShortForm(path, shortPath) && SurvivesCodePage(shortPath, codePage)) {
        LogPrintf(L"RunLauncher: Pfad au\u00dferhalb der Codepage %u, Java erh\u00e4lt seine Kurzform %s", codePage,
                  shortPath);
        BoundedFormat(result.text, kPathCapacity, L"%s", shortPath);
        return result;
    }
    LogPrintf(L"RunLauncher: Pfad au\u00dferhalb der Codepage %u und ohne kurze Namen auf seinem Laufwerk, Java kann ihn "
              L"nicht lesen: %s",
              codePage, path);
    return result;
}
