// The current user's proxy settings, read once at start-up: the plain download uses the proxy
// text on its first attempt, and the Java launcher receives server and bypass list as properties.
#pragma once

#include <stddef.h>

void ReadProxySettings();

// The command-line fragment with the two proxy properties; the caller releases it with free().
wchar_t* BuildProxyArguments();

// The 8-bit copy of the proxy text the rules below look at: one byte per character up to U+00FF,
// ending before the first character beyond it, at most capacity - 1 bytes, always terminated.
void CopyProxyTextNarrow(char* out, size_t capacity, const wchar_t* text);

// Whether the 8-bit proxy text has the form of a server address ("://", or ':' without '=').
bool ProxyTextNamesServer(const char* proxyText);

// Where the server text starts in the proxy text: behind the first "http://", else behind the
// first "https://", else the whole text when it holds a ':'; null when there is no server text.
const wchar_t* ProxyServerText(const wchar_t* proxyText);

// The size in bytes the fragment is given room for.
size_t ProxyFragmentSize(const wchar_t* server, const wchar_t* bypass);

// " "-framed fragment with both values whole, quoted by the Windows command-line rules; malloc'd,
// null when no memory could be had.
wchar_t* BuildProxyFragment(const wchar_t* server, const wchar_t* bypass);

// The log line "Proxy: detect=..., url=..., config=..., bypass=..." into line (capacity characters).
void FormatProxyLogLine(wchar_t* line, size_t capacity, int autoDetect, const wchar_t* proxy,
                        const wchar_t* autoConfigUrl, const wchar_t* bypass);
