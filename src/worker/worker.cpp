#include "worker/worker.h"

#include "provision/payload.h"
#include "provision/properties.h"
#include "provision/runtime.h"
#include "worker/archive_cache.h"
#include "worker/launch.h"

DWORD WINAPI LaunchWorker(LPVOID)
{
    ThawFile(kPropertyFilePayload);
    ReadLauncherProperties();
    EnsureRuntime();
    ThawFile(kLauncherJarPayload);
    // The launch follows the probe in every outcome; the server's archive replaces the embedded
    // one only when it may run (see archive_cache.h).
    provideGenenricLauncherJar();
    RunLauncher();
    return 0;
}
