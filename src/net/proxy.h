// The current user's proxy settings, read once at start-up: the plain download uses the proxy
// text on its first attempt, and the Java launcher receives server and bypass list as properties.
#pragma once

void ReadProxySettings();

// The command-line fragment with the two proxy properties; the caller releases it with free().
wchar_t* BuildProxyArguments();
