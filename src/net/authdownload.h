// The fallback download that answers a proxy's authentication challenge with the platform's
// default credentials for the preferred scheme the proxy offers.
#pragma once

int DownloadWithAuthentication(const wchar_t* serverPath, int useTls, const wchar_t* targetFile);
