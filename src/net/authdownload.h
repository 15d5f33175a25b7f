// The fallback download that answers a proxy's authentication challenge with the platform's
// default credentials for the preferred scheme the proxy offers (the user's Windows logon for
// Negotiate and NTLM). It goes through the same proxy, with the same secure protocols, as the
// plain download's first attempt, and keeps the same bounds: no byte beyond byteLimit
// (kNoByteLimit: none) is written, and a body longer than that gives 0.
#pragma once

#include <stdint.h>

#include "net/transfer_rules.h"

int DownloadWithAuthentication(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, uint64_t byteLimit);
