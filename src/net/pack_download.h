// The runtime pack's direct download, which survives a broken connection: the pack arrives in a
// partial file in the cache folder with a small metadata file beside it (the server's validator and
// the full length), both kept when the download breaks; the next download asks only for the rest
// (Range with If-Range) and appends it when the server's 206 fits, and starts over otherwise. Only
// a pack of its full length becomes the pack file. Before any byte is written the cache folder's
// volume must have room for the pack and the runtime unpacked from it.
//
// The pack is bounded: by the size the version file names, else by the full length the server
// announces; a pack of neither stops when the volume's free room falls below twice the bytes
// received (transfer_rules.h). A pack the caller refused can be asked for again only if it
// changed (If-None-Match or If-Modified-Since with the refused pack's validator).
#pragma once

#include <stdint.h>

#include "net/resume_rules.h"
#include "net/sha256.h"
#include "net/transfer_rules.h"

enum PackDownloadResult : int {
    kPackFailed = 0,     // no usable answer (no connection, proxy login, HTTP error): the fallback may try
    kPackDownloaded = 1, // the pack file holds the whole pack
    kPackBroken = 2,     // the body broke off, too slow, or was stopped; what arrived stays for the next
                         // start when it can be continued, and is deleted when it was stopped (a length
                         // that contradicts the version file, beyond the limit, no room left)
    kPackNoRoom = 3,     // the volume lacks room; nothing was written
    kPackNotModified = 4, // asked with refusedValidator, the server answered 304: nothing was written
};

// The room the download asked for when it returned kPackNoRoom.
struct PackRoom {
    uint64_t neededBytes;
    uint64_t freeBytes;
};

// Downloads serverPath from the download host into packFile through launcherState's
// partialPackFile and partialPackMetaFile. HTTP error statuses are reported as by
// DownloadfileDirect (ReportHttpStatus with its box). expectedSize is the pack's size as the
// version file names it (0: unknown). refusedValidator (null or "": none) is the validator of a
// pack the caller refused: without a partial file to continue, the request carries it as a
// conditional header, and a 304 gives kPackNotModified without a box. validatorOut (null, or
// kValidatorCapacity) receives the validator of the pack delivered when one 200 brought it whole;
// "" when none, and when a 206 completed a partial file (its bytes came in two answers). With digest given, the
// pack is hashed while it arrives, and digest holds its size and SHA-256 when kPackDownloaded is
// returned (known is false when the hashing could not run or failed).
int DownloadRuntimePack(const wchar_t* serverPath, const wchar_t* packFile, uint64_t expectedSize,
                        const wchar_t* refusedValidator, wchar_t* validatorOut, PackRoom* room, FileDigest* digest);

// The bounds of a pack answer, decided before a byte of it is written, for this download and the
// proxy-login fallback alike: limit receives the length the pack must have (ChoosePackLimit). An
// announced length that contradicts expectedSize gives kPackBroken, with a line naming caller; a
// known length without room for the pack and the runtime unpacked from it on the cache folder's
// volume (partialBytes of it there already) gives kPackNoRoom, with a line and room saying what
// was lacking (a volume whose free room cannot be read is not held against the download); 0: go on.
int BoundPackAnswer(const wchar_t* caller, uint64_t expectedSize, bool announcedKnown, uint64_t announced,
                    uint64_t partialBytes, PackRoom* room, PackLimit* limit);

// Removes the partial file and its metadata, with one log line naming why.
void DiscardPartialPack(const wchar_t* reason);
