// The fallback download that answers a proxy's authentication challenge with the platform's
// default credentials for the preferred scheme the proxy offers (the user's Windows logon for
// Negotiate and NTLM). It goes through the same proxy, with the same secure protocols, as the
// plain download's first attempt, and keeps the same bounds: no byte beyond byteLimit
// (kNoByteLimit: none) is written, and a body longer than that gives 0.
#pragma once

#include <stdint.h>

#include "net/pack_download.h"
#include "net/transfer_rules.h"

int DownloadWithAuthentication(const wchar_t* serverPath, int useTls, const wchar_t* targetFile, uint64_t byteLimit);

// The runtime pack through the fallback, bounded as the pack's own download is: by the size the
// version file names (expectedSize, 0: none), else by the length the answer announces, with room
// on the cache folder's volume for it before a byte is written; a pack of neither stops when the
// volume's room runs low (transfer_rules.h). An announced length that contradicts the named size
// is refused before anything is written. Returns kPackDownloaded, kPackNoRoom (room says what was
// lacking) or kPackFailed.
int DownloadPackWithAuthentication(const wchar_t* serverPath, const wchar_t* targetFile, uint64_t expectedSize,
                                   PackRoom* room);
