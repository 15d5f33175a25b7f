// The proxy a download goes through: the user's proxy text, or, for users whose settings name a
// configuration script or switch on automatic detection, what WinHTTP answers for the download
// host. The answer is asked for once per run and host, with a bounded wait, and kept in the state
// record; when no answer comes the downloads go on as without a script.
#pragma once

#include "net/route_rules.h"

// The route of a download attempt to the current download host (attempt 0 is also the route of
// the proxy-login fallback).
DownloadRoute UserDownloadRoute(int attempt, int useTls);
