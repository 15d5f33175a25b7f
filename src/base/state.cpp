#include "base/state.h"

#include <string.h>

LauncherState launcherState = [] {
    LauncherState initial;
    memset(&initial, 0, sizeof initial);
    initial.localVersion = -1;
    return initial;
}();

void ResetLauncherState()
{
    memset(&launcherState, 0, sizeof launcherState);
    launcherState.localVersion = -1;
}
