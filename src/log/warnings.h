// The warning boxes of a start ("tarvolin Launcher Fehler", warning icon, one OK button), each
// shown at the step that raises it. A start that holds the runtime cache lock must not keep it
// while a box waits for an answer (every other start would wait on that box), so a box raised
// during the cache work shows as soon as that work has put every file in its final state and
// released the lock, still before anything later in the start. The launcher's own question after
// a failed start is not one of these.
#pragma once

enum : int {
    kCacheWorkWarningLimit = 4,       // boxes of one cache work; later ones are logged only
    kCacheWorkWarningCapacity = 4096, // characters of each, terminator included
};

// Shows the box (the caller has logged its text), or during the cache work right after it.
void ShowWarning(const wchar_t* text);

// Marks the cache work of this start: between the two calls boxes wait for its end; the end shows
// them, one after the other, each until it is answered. Call EndCacheWork after the lock is released.
void BeginCacheWork();
void EndCacheWork();
