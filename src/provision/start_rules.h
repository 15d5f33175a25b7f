// Whether a program start that failed was refused by the machine's policy rather than failed by
// chance: application control (AppLocker, Windows Defender Application Control, Smart App Control,
// software restriction policies), the virus scanner, or the need for elevation. A refused start
// fails the same way at every try, so it is named to the user and the administrator instead of
// being retried, downloaded again or "repaired" by deleting files. No platform needed.
#pragma once

enum StartRefusal : int {
    kStartNotRefused = 0,
    kStartRefusedByPolicy = 1, // application control or the virus scanner said no
    kStartNeedsElevation = 2,  // the program asks for administrator rights the user does not have
};

// What the error code of a failed CreateProcessW says.
StartRefusal ClassifyStartError(unsigned long code);
