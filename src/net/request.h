// The one request opener of both downloads: a WinHTTP session on the attempt's route with the
// secure protocols the platform accepts and the time-outs of transfer_rules.h, the connection to
// the download host and the GET request.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "net/route_rules.h"

struct DownloadRequest {
    HINTERNET session;
    HINTERNET connection;
    HINTERNET request;
};

// Opens the three handles into out. Returns 0, or the error code of the call that failed; what was
// opened before it is closed again, so out then holds no handle.
DWORD OpenDownloadRequest(const wchar_t* userAgent, const DownloadRoute& route, const wchar_t* serverPath, int useTls,
                          DownloadRequest* out);

// Closes the handles that are open, request first, and clears them.
void CloseDownloadRequest(DownloadRequest* handles);
