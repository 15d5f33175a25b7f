// Proxy texts and bypass lists: when the 8-bit rules let the launcher have the proxy properties,
// the wide rules find a server text; the fragment is framed by blanks and splits into exactly the
// two properties, each holding its whole value; the 8-bit copy stays in its field and matches the
// model of the conversion; the log line of the settings stays inside its buffer. A script's proxy
// list splits into whole entries without separators, the routes of any plan are its entries, and
// an entry's host stays inside its field.
#include <stdlib.h>
#include <wchar.h>

#include "fuzz_text.h"
#include "net/proxy.h"
#include "net/route_rules.h"

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
    return prefix + std::wstring(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> values = WideValues(data, size);
    const std::wstring& proxy = values[0];
    std::wstring bypass = values.size() > 1 ? values[1] : L"";
    std::wstring script = values.size() > 2 ? values[2] : L"";
    const size_t capacity = size % 300 + 1, canary = 8;
    std::vector<wchar_t> line(capacity + canary);
    SetCanary(line.data() + capacity, canary);
    FormatProxyLogLine(line.data(), capacity, static_cast<int>(size), proxy.c_str(),
                       values.size() > 2 ? script.c_str() : nullptr, values.size() > 1 ? bypass.c_str() : nullptr);
    FUZZ_CHECK(CanaryIntact(line.data() + capacity, canary));
    FUZZ_CHECK(wcsnlen(line.data(), capacity) < capacity);
    FUZZ_CHECK(wcsncmp(line.data(), L"Proxy: detect=", capacity - 1 < 14 ? capacity - 1 : 14) == 0);

    RoutePlan plan;
    PlanDownloadRoutes(0, {nullptr, kScriptProxy, proxy.c_str(), nullptr, int(size % 6), unsigned(size)}, &plan);
    FUZZ_CHECK(plan.count >= 1 && plan.count <= (RoutesFromScriptList(plan) ? plan.list.count : 1));
    for (int i = 0; i < plan.list.count; ++i) {
        const wchar_t* entry = plan.list.entries[i];
        FUZZ_CHECK(wcsnlen(entry, kProxyEntryCapacity) < size_t(kProxyEntryCapacity) && entry[0]);
        FUZZ_CHECK(!wcspbrk(entry, L"; \t\r\n"));
        std::vector<wchar_t> host(capacity + canary);
        SetCanary(host.data() + capacity, canary);
        if (ProxyEntryHost(entry, size % 2 == 0, host.data(), capacity))
            FUZZ_CHECK(host[0] && wcsnlen(host.data(), capacity) < capacity);
        FUZZ_CHECK(CanaryIntact(host.data() + capacity, canary));
    }

    std::vector<char> copy(2048 + canary, '#');
    CopyProxyTextNarrow(copy.data(), 2048, proxy.c_str());
    FUZZ_CHECK(std::string(copy.data() + 2048, canary) == std::string(canary, '#'));
    FUZZ_CHECK(std::string(copy.data()) == EightBitCopy(proxy).c_str());

    const wchar_t* server = ProxyServerText(proxy.c_str());
    if (ProxyTextNamesServer(copy.data()))
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
