#include "net/pack_digest.h"

namespace {

enum : DWORD {
    // Long enough that a follower that caught up costs the download next to nothing, short
    // enough that the digest is ready a moment after the last byte.
    kFollowWaitMilliseconds = 10,
    kFollowPieceSize = 1024 * 1024,
};

bool Flag(volatile LONG* flag)
{
    return InterlockedCompareExchange(flag, 0, 0) != 0;
}

DWORD WINAPI FollowPartialFile(void* parameter)
{
    DigestFollower* follower = static_cast<DigestFollower*>(parameter);
    while (!Flag(&follower->abandoned)) {
        // The writer's flag is read before the file: when the writer was done before a read that
        // comes back empty, that read was at the end of the whole file.
        bool writerDone = Flag(&follower->writerDone);
        DWORD got = 0;
        if (!ReadFile(follower->file, follower->piece, kFollowPieceSize, &got, nullptr)) {
            follower->error = GetLastError();
            break;
        }
        if (got > 0) {
            follower->error = AddSha256(&follower->sha, follower->piece, got);
            if (follower->error)
                break;
            follower->size += got;
        }
        if (got == kFollowPieceSize)
            continue;
        if (got == 0 && writerDone)
            break;
        WaitForSingleObject(follower->wakeup, kFollowWaitMilliseconds);
    }
    return 0;
}

void ReleaseFollower(DigestFollower* follower)
{
    if (follower->thread)
        CloseHandle(follower->thread);
    CloseSha256(&follower->sha);
    if (follower->piece)
        HeapFree(GetProcessHeap(), 0, follower->piece);
    if (follower->wakeup)
        CloseHandle(follower->wakeup);
    if (follower->file && follower->file != INVALID_HANDLE_VALUE)
        CloseHandle(follower->file);
    *follower = DigestFollower{};
    follower->file = INVALID_HANDLE_VALUE;
}

} // namespace

bool StartDigestFollower(const wchar_t* path, DigestFollower* follower)
{
    *follower = DigestFollower{};
    follower->file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    follower->wakeup = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    follower->piece = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, kFollowPieceSize));
    if (follower->file == INVALID_HANDLE_VALUE || !follower->wakeup || !follower->piece ||
        BeginSha256(&follower->sha) != 0) {
        ReleaseFollower(follower);
        return false;
    }
    follower->thread = CreateThread(nullptr, 0, FollowPartialFile, follower, 0, nullptr);
    if (!follower->thread) {
        ReleaseFollower(follower);
        return false;
    }
    return true;
}

void FinishDigestFollower(DigestFollower* follower, bool whole, FileDigest* digest)
{
    *digest = FileDigest{};
    if (!follower->thread) {
        ReleaseFollower(follower);
        return;
    }
    InterlockedExchange(whole ? &follower->writerDone : &follower->abandoned, 1);
    SetEvent(follower->wakeup);
    WaitForSingleObject(follower->thread, INFINITE);
    if (whole && follower->error == 0 && EndSha256(&follower->sha, digest->sha256) == 0) {
        digest->known = true;
        digest->size = follower->size;
    }
    ReleaseFollower(follower);
}
