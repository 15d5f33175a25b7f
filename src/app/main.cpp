// Entry point: folders and log first, then the command line, the proxy settings, the run mode
// and the splash window, whose message loop is the program's main loop. The top room: it may use
// every other.
#include <windows.h>

#include <shellapi.h>

#include "app/args.h"
#include "app/build_config.h"
#include "base/state.h"
#include "layout/folders.h"
#include "log/log.h"
#include "net/proxy.h"
#include "product_version.h"
#include "ui/splash.h"

namespace {

// "version: 1.2.2 " and the build date, widened character by character.
void BuildVersionBanner(wchar_t* banner, int capacity)
{
    const char text[] = LAUNCHER_VERSION_TEXT __DATE__;
    int i = 0;
    for (; text[i] && i < capacity - 1; ++i)
        banner[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    banner[i] = 0;
}

bool CommandLineSplits()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return false;
    LocalFree(arguments);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    launcherState.instanceHandle = instance;
    wchar_t banner[64];
    BuildVersionBanner(banner, 64);

    InitFolders();
    LogLine(banner);
    LogLine(L"Start wWinMain:");
    LogLine(L"pCmdLine");
    // The version record's product version: which build this is and which release keys it trusts.
    LogLine(L"Produktversion: " LAUNCHER_PRODUCT_VERSION_WIDE);

    if (!CommandLineSplits()) {
        LogLine(L"Error: Unable to parse command line");
        return 10;
    }
    ReadProxySettings();
    if (ParseArguments() == 0)
        RunSplashWindow(instance, showCommand);
    return 0;
}
