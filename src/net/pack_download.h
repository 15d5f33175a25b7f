// The runtime pack's direct download, which survives a broken connection: the pack arrives in a
// partial file in the cache folder with a small metadata file beside it (the server's validator and
// the full length), both kept when the download breaks; the next download asks only for the rest
// (Range with If-Range) and appends it when the server's 206 fits, and starts over otherwise. Only
// a pack of its full length becomes the pack file. Before any byte is written the cache folder's
// volume must have room for the pack and the runtime unpacked from it.
#pragma once

#include <stdint.h>

#include "net/sha256.h"

enum PackDownloadResult : int {
    kPackFailed = 0,     // no usable answer (no connection, proxy login, HTTP error): the fallback may try
    kPackDownloaded = 1, // the pack file holds the whole pack
    kPackBroken = 2,     // the body broke off; what arrived stays for the next start
    kPackNoRoom = 3,     // the volume lacks room; nothing was written
};

// The room the download asked for when it returned kPackNoRoom.
struct PackRoom {
    uint64_t neededBytes;
    uint64_t freeBytes;
};

// Downloads serverPath from the download host into packFile through launcherState's
// partialPackFile and partialPackMetaFile. HTTP error statuses are reported as by
// DownloadfileDirect (ReportHttpStatus with its box). With digest given, the pack is hashed while
// it arrives, and digest holds its size and SHA-256 when kPackDownloaded is returned (known is
// false when the hashing could not run or failed).
int DownloadRuntimePack(const wchar_t* serverPath, const wchar_t* packFile, PackRoom* room, FileDigest* digest);

// Removes the partial file and its metadata, with one log line naming why.
void DiscardPartialPack(const wchar_t* reason);
