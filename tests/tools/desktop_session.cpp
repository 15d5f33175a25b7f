// Keeps the prefix's desktop alive, as a user's logged-on session always has one: Wine ends its
// desktop process when the last program using it ends and starts it again for the next program
// that registers a window class, and that program waits for it: a wait no Windows session has.
// Started by the benches before the timed starts and killed after them.
//     desktop_session
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    GetDesktopWindow(); // makes this process a user of the desktop
    Sleep(INFINITE);
    return 0;
}
