#include "worker/launch.h"

#include <windows.h>

#include "app/state.h"

void RunLauncher()
{
    PostMessageW(launcherState.splashWindow, WM_DESTROY, 0, 0);
}
