#include "net/authdownload.h"

int DownloadWithAuthentication(const wchar_t*, int, const wchar_t*)
{
    return 0;
}
