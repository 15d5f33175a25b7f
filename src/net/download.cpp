#include "net/download.h"

int DownloadfileDirect(const wchar_t*, int, const wchar_t*, bool)
{
    return 0;
}

void ReportHttpStatus(DWORD, bool) {}
