// Proxy texts and bypass lists: when the 8-bit rules let the launcher have the proxy properties,
// the wide rules find a server text; the fragment is framed by blanks and splits into exactly the
// two properties, each cut at its field.
#include <stdlib.h>
#include <wchar.h>

#include "fuzz_text.h"
#include "net/proxy.h"

namespace {

// The 8-bit copy the start-up makes: one byte per character up to U+00FF; the conversion stops
// at the first character it cannot convert.
std::string EightBitCopy(const std::wstring& text)
{
    std::string copy;
    for (wchar_t c : text) {
        if (static_cast<unsigned>(c) > 0xFF)
            break;
        copy += static_cast<char>(c);
    }
    return copy.substr(0, 2047);
}

std::wstring Property(const wchar_t* prefix, const wchar_t* value)
{
    return (prefix + std::wstring(value)).substr(0, 1023);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> values = WideValues(data, size);
    const std::wstring& proxy = values[0];
    std::wstring bypass = values.size() > 1 ? values[1] : L"";
    const wchar_t* server = ProxyServerText(proxy.c_str());
    if (ProxyTextNamesServer(EightBitCopy(proxy).c_str()))
        FUZZ_CHECK(server != nullptr);
    if (!server)
        return 0;
    FUZZ_CHECK(server >= proxy.c_str() && server <= proxy.c_str() + proxy.size());
    wchar_t* fragment = BuildProxyFragment(server, bypass.c_str());
    FUZZ_CHECK(fragment != nullptr);
    size_t length = wcslen(fragment);
    FUZZ_CHECK(length >= 2 && fragment[0] == L' ' && fragment[length - 1] == L' ');
    std::vector<std::wstring> expected = {Property(L"-Dde.tarvolin.windowsProxyServer=", server),
                                          Property(L"-Dde.tarvolin.windowsProxyBypass=", bypass.c_str())};
    FUZZ_CHECK(SplitArguments(fragment) == expected);
    free(fragment);
    return 0;
}
