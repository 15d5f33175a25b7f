// The generic-archive probe: its temporary file when no server answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <string>

#include "app/state.h"
#include "log/format.h"
#include "test_helpers.h"
#include "worker/worker.h"

TEST(ProvideGenericLauncherJar, NoServerLeavesAnEmptyLncTempFileAndReturnsFalse)
{
    ResetLauncherState();
    BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", TempPath(L"worker_test.log").c_str());
    // Loopback port 443 without a listener refuses at once (the e2e tests serve it in the namespace).
    const char* origin = getenv("LAUNCHER_TEST_ORIGIN");
    if (origin && *origin)
        GTEST_SKIP() << "an origin serves 443 here";
    wcscpy(launcherState.downloadHost, L"127.0.0.1");

    wchar_t archive[kPathCapacity] = {};
    EXPECT_FALSE(provideGenenricLauncherJar(archive));
    std::wstring name(archive);
    size_t slash = name.find_last_of(L'\\');
    ASSERT_NE(std::wstring::npos, slash);
    EXPECT_EQ(0u, name.compare(slash + 1, 3, L"lnc"));
    EXPECT_EQ(L".tmp", name.substr(name.size() - 4));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(archive, GetFileExInfoStandard, &data));
    EXPECT_EQ(0u, data.nFileSizeLow);
    DeleteFileW(archive);
    DeleteFileW(launcherState.logFilePath);
    ResetLauncherState();
}
