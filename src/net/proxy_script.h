// The proxy a download goes through: the user's proxy text, or, for users whose settings name a
// configuration script or switch on automatic detection, what WinHTTP answers for the download
// host. The answer is asked for once per run and host, with a bounded wait, and kept in the state
// record; when no answer comes the downloads go on as without a script. A list in the answer is
// tried entry by entry, the one that carried the last download first.
#pragma once

#include <windows.h>

#include "net/route_rules.h"

// The routes a download attempt to the current download host tries in order, into plan (attempt
// 0 is also the route of the proxy-login fallback, which takes the plan's first route).
void PlanUserDownloadRoutes(int attempt, int useTls, RoutePlan* plan);

// Said after a route of the plan was tried: error 0 when the request went out through it. For an
// entry of the script's list, the log names the entry that carried the download, or the one that
// failed; the carrying entry is tried first by the start's next download.
void NoteRouteOutcome(const RoutePlan& plan, int route, DWORD error);
