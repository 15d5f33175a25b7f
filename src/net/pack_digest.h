// The pack's SHA-256 taken while it downloads: a second thread reads the partial file behind the
// download and hashes it, so that the digest is ready when the last byte is written and the
// release check need not read the pack again. The thread reads the file from its first byte, so
// a download that continues an earlier start's partial file gets the digest of the whole pack.
// The writer does not signal each piece: the follower reads in large pieces and, when it has
// caught up, looks again after a short wait, so the two threads rarely meet in the kernel.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "net/sha256.h"

struct DigestFollower {
    HANDLE thread;
    HANDLE file;          // the follower's own read handle on the partial file
    HANDLE wakeup;        // set when the writer is done or the digest is abandoned
    volatile LONG writerDone;  // the writer wrote its last byte: read to the end, then stop
    volatile LONG abandoned;   // the digest is not wanted any more: stop at once
    unsigned char* piece;
    Sha256Run sha;
    uint64_t size;
    unsigned long error;  // 0, or the code of the read or hash call that failed
};

// Starts following path, which the writer has open with FILE_SHARE_READ. False when the thread
// cannot be had; the download then goes on without it and the pack is read once after.
bool StartDigestFollower(const wchar_t* path, DigestFollower* follower);

// Ends the follower and releases its handles. With whole true it first reads to the end of the
// file, and digest receives the content's size and SHA-256 (known false when a read failed);
// with whole false the follower stops at once and digest stays unknown. Call after the writer
// closed its handle and before the file is moved.
void FinishDigestFollower(DigestFollower* follower, bool whole, FileDigest* digest);
