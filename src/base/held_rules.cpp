#include "base/held_rules.h"

bool IsHoldError(unsigned long code)
{
    // MoveFileEx and DeleteFile report a file that another process has open without sharing
    // delete as ERROR_SHARING_VIOLATION, a folder with an open file below it as
    // ERROR_ACCESS_DENIED, a locked byte range as ERROR_LOCK_VIOLATION (learn.microsoft.com:
    // "MoveFileExW function", "System Error Codes (0-499)"). Wine lets most of these renames pass.
    return code == 5 || code == 32 || code == 33;
}

unsigned long NextHoldPauseMs(unsigned long pausesSoFar, unsigned long waitedMs, unsigned long windowMs)
{
    if (waitedMs >= windowMs)
        return 0;
    unsigned long pause = kFirstHoldPauseMs;
    for (unsigned long i = 0; i < pausesSoFar && pause < kLongestHoldPauseMs; ++i)
        pause *= 2;
    if (pause > kLongestHoldPauseMs)
        pause = kLongestHoldPauseMs;
    unsigned long left = windowMs - waitedMs;
    return pause < left ? pause : left;
}
