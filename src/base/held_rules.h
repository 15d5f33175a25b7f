// When a file or folder the launcher has just written is held by another program: which errors
// mean a hold that passes (a virus scanner or indexer opens every new file for a moment), and how
// long to pause before the next try. No platform needed.
#pragma once

enum : unsigned long {
    // Scanners hold a fresh file for seconds; longer than this, the file counts as held for good.
    kHeldFileWindowMs = 30 * 1000,
    kFirstHoldPauseMs = 50,
    kLongestHoldPauseMs = 4000,
};

// True for the errors a passing hold gives a rename or delete: ERROR_ACCESS_DENIED (5),
// ERROR_SHARING_VIOLATION (32) and ERROR_LOCK_VIOLATION (33).
bool IsHoldError(unsigned long code);

// The pause before the next try, given the time waited so far and the window: it doubles from
// kFirstHoldPauseMs up to kLongestHoldPauseMs and ends at the window; 0 when the window is over.
unsigned long NextHoldPauseMs(unsigned long pausesSoFar, unsigned long waitedMs, unsigned long windowMs);
