// The warning boxes of a start ("tarvolin Launcher Fehler", warning icon, one OK button), held
// back until the Java launcher has been started: a box must never keep the runtime cache locked
// or keep the application from starting, so a user who starts it again while a box waits (or
// never sees the box) still gets the application. The launcher's own question after a failed
// start is not one of these.
#pragma once

enum : int {
    kHeldWarningLimit = 4,       // a start shows at most this many; later ones are logged only
    kHeldWarningCapacity = 4096, // characters of each, terminator included
};

// Keeps text for ShowHeldWarnings (the caller has logged it).
void HoldWarning(const wchar_t* text);

// Shows the held boxes one after the other, each until it is answered, and forgets them.
void ShowHeldWarnings();
