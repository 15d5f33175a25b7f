#include "app/args.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include "app/build_config.h"
#include "base/state.h"
#include "log/format.h"
#include "log/log.h"

namespace {

const wchar_t kSecondVariantName[] = L"berk";
const wchar_t kFirstVariantName[] = L"alda";
const wchar_t kNoVariantName[] = L"";
const wchar_t kProductionHost[] = LAUNCHER_PRODUCTION_HOST;
const wchar_t kTestHost[] = LAUNCHER_TEST_HOST;
const wchar_t kProductionServerPath[] = L"/apps/zentrix/windows/jre/";
const wchar_t kTestServerPath[] = L"/apps/zentrix/test/windows/test/jre/";

void EnterUrlMode(const wchar_t* argument)
{
    launcherState.hasLaunchArgument = TRUE;
    BoundedFormat(launcherState.launchArgument, kLaunchArgumentCapacity, L"%s", argument);
    LogLine(L"Start mit einem URL Argument");
    LogLine(launcherState.launchArgument);
    ApplyVariant(ChooseVariant(launcherState.launchArgument));
}

void EnterTestMode(const wchar_t* propertyFile, const wchar_t* launcherJar)
{
    LogLine(L"Start im Test-Modus mit 2 Parametern");
    launcherState.testMode = TRUE;
    BoundedFormat(launcherState.propertyFilePath, kPathCapacity, L"%s", propertyFile);
    BoundedFormat(launcherState.launcherJarPath, kPathCapacity, L"%s", launcherJar);
}

} // namespace

AppVariant ChooseVariant(const wchar_t* launchArgument)
{
    if (StrStrIW(launchArgument, L".kvbnlp") || StrStrIW(launchArgument, L"berk"))
        return AppVariant::kSecond;
    if (StrStrIW(launchArgument, L".kvnlp") || StrStrIW(launchArgument, L"alda"))
        return AppVariant::kFirst;
    return AppVariant::kNone;
}

void ApplyVariant(AppVariant variant)
{
    switch (variant) {
    case AppVariant::kSecond:
        launcherState.variantName = kSecondVariantName;
        launcherState.defaultHost = kProductionHost;
        launcherState.runtimeServerPath = kProductionServerPath;
        launcherState.secondVariant = 1;
        break;
    case AppVariant::kFirst:
        launcherState.variantName = kFirstVariantName;
        launcherState.defaultHost = kProductionHost;
        launcherState.runtimeServerPath = kProductionServerPath;
        break;
    case AppVariant::kNone:
        launcherState.variantName = kNoVariantName;
        launcherState.defaultHost = kTestHost;
        launcherState.runtimeServerPath = kTestServerPath;
        break;
    }
}

int ApplyArgumentVector(int count, wchar_t** arguments)
{
    if (arguments && count == 2) {
        EnterUrlMode(arguments[1]);
        return 0;
    }
    if (arguments && count == 3) {
        EnterTestMode(arguments[1], arguments[2]);
        return 0;
    }
    LogLine(L"Error: Anzahl der Aufrufargumente nicht unterst\u00fctzt ");
    return -1;
}

int ParseArguments()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int result = ApplyArgumentVector(count, arguments);
    if (arguments)
        LocalFree(arguments);
    return result;
}
