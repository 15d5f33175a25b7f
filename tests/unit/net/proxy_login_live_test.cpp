// The two-step download against a proxy that asks for a login, driven by the end-to-end module
// tests/e2e/test_corporate_network.py (skipped without it): the user's settings name only a
// configuration script, which sends the host through the scripted proxy. Over plain HTTP, where
// Wine surfaces a proxy's 407 as a status.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "log/format.h"
#include "net/authdownload.h"
#include "net/download.h"

namespace {

std::wstring EnvWide(const wchar_t* name)
{
    wchar_t value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length && length < 1024 ? value : L"";
}

std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

int CountLines(const std::string& log, const std::string& text)
{
    int count = 0;
    for (size_t at = log.find(": " + text + "\r\n"); at != std::string::npos;
         at = log.find(": " + text + "\r\n", at + 1))
        ++count;
    return count;
}

} // namespace

TEST(ProxyLoginLive, A407GoesToTheFallbackWhichMeetsTheSameProxy)
{
    std::wstring script = EnvWide(L"LAUNCHER_TEST_LOGIN_SCRIPT");
    std::wstring host = EnvWide(L"LAUNCHER_TEST_ORIGIN");
    if (script.empty() || host.empty())
        GTEST_SKIP() << "LAUNCHER_TEST_LOGIN_SCRIPT names no configuration script";
    ResetLauncherState();
    std::wstring log = TempFile(L"proxy_login_live.log");
    std::wstring target = TempFile(L"proxy_login_live.bin");
    DeleteFileW(log.c_str());
    BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", log.c_str());
    BoundedFormat(launcherState.downloadHost, kPathCapacity, L"%s", host.c_str());
    launcherState.proxyConfig.lpszAutoConfigUrl = &script[0];

    // The proxy's page is not stored and no status message is counted.
    EXPECT_EQ(0, DownloadfileDirect(L"/e2e/ok", 0, target.c_str(), true));
    EXPECT_EQ(0, launcherState.statusMessageCount);
    EXPECT_EQ("", ReadAll(target));
    // Basic is never chosen: the second 407 ends the fallback.
    EXPECT_EQ(0, DownloadWithAuthentication(L"/e2e/ok", 0, target.c_str()));
    EXPECT_EQ("", ReadAll(target));

    std::string lines = ReadAll(log);
    EXPECT_EQ(1, CountLines(lines, "DownloadfileDirect 407: The proxy requires authentication."));
    EXPECT_EQ(2, CountLines(lines, "DownloadWithAuthentication 407: The proxy requires authentication.  Sending credentials...\n"));
    EXPECT_EQ(std::string::npos, lines.find("Fehler: HTTP-Statuscode"));
    EXPECT_EQ(std::string::npos, lines.find("Error has occurred"));
    launcherState.proxyConfig.lpszAutoConfigUrl = nullptr;
    DeleteFileW(target.c_str());
    DeleteFileW(log.c_str());
    ResetLauncherState();
}
