#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/args.h"
#include "app/build_config.h"
#include "base/state.h"
#include "layout/folders.h"
#include "test_helpers.h"

TEST(ChooseVariant, FirstMarkerInPrecedenceOrderDecidesAnywhereAndInAnyCase)
{
    EXPECT_EQ(AppVariant::kSecond, ChooseVariant(L"https://x/app.kvbnlp"));
    EXPECT_EQ(AppVariant::kFirst, ChooseVariant(L"C:\\files\\start.kvnlp"));
    EXPECT_EQ(AppVariant::kSecond, ChooseVariant(L"alda-and-berk"));
    EXPECT_EQ(AppVariant::kSecond, ChooseVariant(L"a.kvnlp.kvbnlp"));
    EXPECT_EQ(AppVariant::kFirst, ChooseVariant(L"https://host/ALDA/x"));
    EXPECT_EQ(AppVariant::kSecond, ChooseVariant(L"x.KvBnLp"));
    EXPECT_EQ(AppVariant::kFirst, ChooseVariant(L"xyzaldaxyz"));
    EXPECT_EQ(AppVariant::kNone, ChooseVariant(L"https://host/app.jnlp"));
    EXPECT_EQ(AppVariant::kNone, ChooseVariant(L""));
}

TEST(BuildPaths, DerivesServerPathsAndCacheFilesFromTheRunMode)
{
    ResetLauncherState();
    wcscpy(launcherState.cacheFolder, L"C:\\u\\tarvolin\\zentrixjre");
    ApplyVariant(AppVariant::kNone);
    BuildPaths();
    EXPECT_STREQ(LAUNCHER_TEST_HOST, launcherState.downloadHost);
    EXPECT_STREQ(L"/apps/zentrix/test/windows/test/jre/version.txt", launcherState.versionUrlPath);
    EXPECT_STREQ(L"/apps/zentrix/test/windows/test/jre/jre_pack.exe", launcherState.runtimePackUrlPath);
    EXPECT_EQ(std::wstring(LAUNCHER_TEST_HOST) + L"/apps/zentrix/test/windows/test/jre/",
              launcherState.runtimeSourceUrl);
    EXPECT_STREQ(L"", launcherState.variantName);
    EXPECT_STREQ(L"C:\\u\\tarvolin\\zentrixjre\\jre\\bin\\javaw", launcherState.javawPath);
    EXPECT_STREQ(L"C:\\u\\tarvolin\\zentrixjre\\jre\\unpack.txt", launcherState.unpackMarkerFile);
    EXPECT_STREQ(L"C:\\u\\tarvolin\\zentrixjre\\version.tmp", launcherState.remoteVersionFile);
    EXPECT_STREQ(L"", launcherState.localLowPath);
    EXPECT_STREQ(L"", launcherState.roamingPath);

    ResetLauncherState();
    ApplyVariant(AppVariant::kSecond);
    BuildPaths();
    EXPECT_STREQ(LAUNCHER_PRODUCTION_HOST, launcherState.downloadHost);
    EXPECT_STREQ(L"/apps/zentrix/windows/jre/version.txt", launcherState.versionUrlPath);
    EXPECT_STREQ(L"berk", launcherState.variantName);
    EXPECT_EQ(1, launcherState.secondVariant);
}

TEST(BuildPaths, TestModeWritesNullForTheAbsentHostAndServerFolder)
{
    ResetLauncherState();
    launcherState.testMode = TRUE;
    BuildPaths();
    EXPECT_STREQ(L"(null)", launcherState.downloadHost);
    EXPECT_STREQ(L"(null)(null)", launcherState.runtimeSourceUrl);
    EXPECT_STREQ(L"(null)version.txt", launcherState.versionUrlPath);
    EXPECT_STREQ(L"(null)jre_pack.exe", launcherState.runtimePackUrlPath);
}

TEST(BuildPaths, CutsEveryDerivedPathAt259Characters)
{
    ResetLauncherState();
    std::wstring longFolder(255, L'c');
    wcscpy(launcherState.cacheFolder, longFolder.c_str());
    BuildPaths();
    EXPECT_EQ(259u, wcslen(launcherState.runtimePackFile));
    EXPECT_EQ(259u, wcslen(launcherState.javawPath));
    EXPECT_EQ(259u, wcslen(launcherState.runtimeFolder)); // 255 + "\jre" fits exactly
}

TEST(DeleteFolderTree, RefusesCutPathsAndForeignFolders)
{
    EXPECT_TRUE(IsDeletableFolder(L"C:\\u\\tarvolin\\zentrixjre", L"zentrixjre", false));
    EXPECT_TRUE(IsDeletableFolder(L"C:\\u\\tarvolin\\zentrixjre\\JRE", L"jre", false));
    EXPECT_FALSE(IsDeletableFolder(L"C:\\u\\tarvolin\\zentrixjre", L"zentrixjre", true));
    EXPECT_FALSE(IsDeletableFolder(L"C:\\u\\tarvolin\\zentri", L"zentrixjre", false));
    EXPECT_FALSE(IsDeletableFolder(L"C:\\u\\tarvolin\\zentrixjre\\", L"zentrixjre", false));
    EXPECT_FALSE(IsDeletableFolder(L"zentrixjre", L"zentrixjre", false));
    EXPECT_FALSE(IsDeletableFolder(L"", L"jre", false));
}

TEST(DeleteFolderTree, RemovesNestedFoldersAndFiles)
{
    std::wstring root = TempPath(L"tree-test-" + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\a").c_str(), nullptr);
    CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr);
    HANDLE file = CreateFileW((root + L"\\a\\b\\f.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    EXPECT_EQ(0, DeleteFolderTree(root.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root.c_str()));
    EXPECT_NE(0, DeleteFolderTree(root.c_str()));
}

TEST(DeleteFolderTree, NeverHandsTheShellATreeWithPathsBeyond259Characters)
{
    // Under Wine the shell, given such a tree, deleted the current folder's contents instead; the
    // test runs in a folder of its own with a decoy in it.
    std::wstring scratch = TempPath(L"long-tree-" + std::to_wstring(GetCurrentProcessId()));
    std::wstring root = scratch + L"\\zentrixjre";
    CreateDirectoryW(scratch.c_str(), nullptr);
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring decoy = scratch + L"\\decoy.txt";
    CloseHandle(CreateFileW(decoy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::vector<std::wstring> folders;
    std::wstring deep = L"\\\\?\\" + root;
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(60, L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << GetLastError();
        folders.push_back(deep);
    }
    std::wstring file = deep + L"\\javaw.exe";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    CloseHandle(handle);
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(scratch.c_str());

    ResetLauncherState();
    std::wstring log = scratch + L"\\test.log";
    wcscpy(launcherState.logFilePath, log.c_str());
    EXPECT_FALSE(TreeFitsShellPaths(root.c_str()));
    EXPECT_TRUE(TreeFitsShellPaths((scratch + L"\\missing").c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, DeleteFolderTree(root.c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, DeleteCacheFolderTree(root.c_str(), L"zentrixjre", false));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(decoy.c_str()));
    std::string lines = ReadWholeFile(log);
    std::string expected = ": DeleteFolderTree: " + std::string(root.begin(), root.end()) + " wird nicht gel\xf6scht\r\n";
    EXPECT_NE(std::string::npos, lines.find(expected)) << lines;

    SetCurrentDirectoryW(saved);
    DeleteFileW(file.c_str());
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        RemoveDirectoryW(it->c_str());
    EXPECT_EQ(0, DeleteFolderTree(root.c_str())); // within the limit again, the shell takes it
    DeleteFileW(decoy.c_str());
    DeleteFileW(log.c_str());
    RemoveDirectoryW(scratch.c_str());
    ResetLauncherState();
}

TEST(ApplyArgumentVector, SetsTheRunModeByArgumentCount)
{
    wchar_t program[] = L"DesktopLauncher.exe";
    wchar_t first[] = L"props.txt";
    wchar_t second[] = L"launcher.jar";
    wchar_t* vector[] = {program, first, second, first};

    ResetLauncherState();
    EXPECT_EQ(0, ApplyArgumentVector(3, vector));
    EXPECT_TRUE(launcherState.testMode);
    EXPECT_FALSE(launcherState.hasLaunchArgument);
    EXPECT_STREQ(L"props.txt", launcherState.propertyFilePath);
    EXPECT_STREQ(L"launcher.jar", launcherState.launcherJarPath);
    EXPECT_EQ(nullptr, launcherState.defaultHost);
    EXPECT_EQ(nullptr, launcherState.variantName);

    for (int count : {1, 4}) {
        ResetLauncherState();
        EXPECT_EQ(-1, ApplyArgumentVector(count, vector));
        EXPECT_FALSE(launcherState.testMode || launcherState.hasLaunchArgument);
    }
}

TEST(ApplyArgumentVector, CutsTheLaunchArgumentAt519AndSeesOnlyTheCutCopy)
{
    wchar_t program[] = L"DesktopLauncher.exe";
    std::wstring argument(530, L'x');
    argument.replace(521, 4, L"berk"); // beyond the cut
    argument.replace(500, 4, L"alda"); // inside it
    wchar_t* vector[] = {program, &argument[0]};

    ResetLauncherState();
    EXPECT_EQ(0, ApplyArgumentVector(2, vector));
    EXPECT_TRUE(launcherState.hasLaunchArgument);
    EXPECT_EQ(519u, wcslen(launcherState.launchArgument));
    EXPECT_STREQ(L"alda", launcherState.variantName);
    EXPECT_EQ(0, launcherState.secondVariant);
}
