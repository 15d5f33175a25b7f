// Staged rollout on this desktop: the number it drew once, kept in the cache folder, against the
// share of desktops the announced release is meant for (rollout_rules.h).
#pragma once

// True when the announced release's rollout leaves this desktop on its installed runtime; then one
// line says so. wholeRuntime: a whole runtime is installed (one without is never held back). The
// number is drawn, and kept, only when the share is below the whole fleet.
bool RolloutHoldsBackThisDesktop(bool wholeRuntime);
