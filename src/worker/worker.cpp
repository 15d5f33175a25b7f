#include "worker/worker.h"

#include "app/state.h"
#include "log/log.h"
#include "provision/payload.h"
#include "provision/properties.h"
#include "provision/runtime.h"
#include "worker/launch.h"

DWORD WINAPI LaunchWorker(LPVOID)
{
    ThawFile(kPropertyFilePayload);
    ReadLauncherProperties();
    EnsureRuntime();
    ThawFile(kLauncherJarPayload);
    wchar_t genericArchive[kPathCapacity] = {};
    provideGenenricLauncherJar(genericArchive);
    RunLauncher();
    return 0;
}

bool provideGenenricLauncherJar(wchar_t*)
{
    return false;
}

bool IsWholeZipArchive(const unsigned char*, size_t)
{
    return false;
}
