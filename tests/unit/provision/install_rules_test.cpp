#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "base/held_rules.h"
#include "provision/install_rules.h"
#include "provision/release_rules.h"
#include "provision/start_rules.h"

namespace {

// A 128-byte file head: "MZ", the PE offset at 0x3C and "PE\0\0" there.
std::string ProgramHead(unsigned peOffset = 0x40, const char* signature = "PE\0\0")
{
    std::string head(128, '\0');
    head[0] = 'M';
    head[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        head[0x3C + i] = char((peOffset >> (8 * i)) & 0xff);
    if (peOffset + 4 <= head.size())
        head.replace(peOffset, 4, signature, 4);
    return head;
}

bool IsProgram(const std::string& head)
{
    return IsWindowsProgramImage(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

} // namespace

TEST(InstallRules, OnlyAWindowsProgramCountsAsARuntimePack)
{
    struct Case {
        const char* what;
        std::string head;
        bool program;
    } cases[] = {
        {"a program", ProgramHead(), true},
        {"PE header at the last place it fits", ProgramHead(124), true},
        {"empty answer", "", false},
        {"a proxy's page", "<html><body>Proxy Authentication Required</body></html>" + std::string(80, ' '), false},
        {"MZ alone", "MZ", false},
        {"PE offset beyond the head", ProgramHead(126), false},
        {"PE offset inside the DOS header", ProgramHead(0x20), false},
        {"PE offset far out", ProgramHead(0xFFFFFFF0u), false},
        {"wrong signature", ProgramHead(0x40, "NE\0\0"), false},
        {"lower-case mz", "mz" + ProgramHead().substr(2), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.program, IsProgram(c.head)) << c.what;
    EXPECT_FALSE(IsWindowsProgramImage(nullptr, 0));
}

TEST(InstallRules, OneLockNamePerCacheFolder)
{
    wchar_t a[kInstallLockNameCapacity], b[kInstallLockNameCapacity], c[kInstallLockNameCapacity];
    InstallLockName(L"C:\\Users\\Ann\\AppData\\Local\\tarvolin\\zentrixjre", a, kInstallLockNameCapacity);
    InstallLockName(L"c:\\users\\ANN\\appdata\\local\\TARVOLIN\\zentrixjre", b, kInstallLockNameCapacity);
    InstallLockName(L"C:\\Users\\Bob\\AppData\\Local\\tarvolin\\zentrixjre", c, kInstallLockNameCapacity);
    EXPECT_EQ(std::wstring(a), std::wstring(b));
    EXPECT_NE(std::wstring(a), std::wstring(c));
    std::wstring name(a);
    ASSERT_EQ(0u, name.find(L"Local\\"));
    EXPECT_EQ(std::wstring::npos, name.find(L'\\', 6)) << "a mutex name holds no backslash after its namespace";
}

TEST(InstallRules, EveryStateOfTheCacheEndsWithAWholeRuntimeOrAnInstall)
{
    // jre exists, jre whole, jre.old exists, jre.old whole -> the repair
    struct {
        bool runtime, runtimeWhole, setAside, setAsideWhole;
        SetAsideRepair repair;
    } states[] = {
        {true, true, false, false, kSetAsideNone},     {true, true, true, true, kSetAsideDelete},
        {true, true, true, false, kSetAsideDelete},    {true, false, true, true, kSetAsidePutBack},
        {false, false, true, true, kSetAsidePutBack},  {false, false, true, false, kSetAsidePutBack},
        {true, false, true, false, kSetAsideKeep},
    };
    for (const auto& c : states)
        EXPECT_EQ(c.repair, DecideSetAsideRepair(c.runtime, c.runtimeWhole, c.setAside, c.setAsideWhole))
            << c.runtime << c.runtimeWhole << c.setAside << c.setAsideWhole;
    // The switch of a whole new runtime replaces a jre that is not whole even where the put-back failed.
    EXPECT_EQ(kSwitchRemoveRuntime, DecideSwitchClearing(true, false, true));
    EXPECT_EQ(kSwitchDeleteSetAside, DecideSwitchClearing(true, true, true));
    EXPECT_EQ(kSwitchClearNothing, DecideSwitchClearing(false, false, true));

    // second fetch names a number, whole runtime installed, first fetch names a number -> file taken
    struct {
        bool second, whole, first;
        InstallVersionSource source;
    } fetches[] = {
        {true, true, true, kInstallVersionSecond},  {true, false, false, kInstallVersionSecond},
        {false, true, true, kInstallVersionNone},   {false, false, true, kInstallVersionFirst},
        {false, false, false, kInstallVersionNone},
    };
    for (const auto& c : fetches)
        EXPECT_EQ(c.source, ChooseInstallVersionFile(c.second, c.whole, c.first)) << c.second << c.whole << c.first;

    // Without a number from the server: the release beside the program (nullptr: none), judged with
    // the key, its signature's result and the floor, at the expiry's second.
    const int64_t now = 1898553599;
    struct {
        const char* name;
        bool whole, serverNamed;
        const char* delivered;
        bool key, verified;
        int floor;
        OfflineRelease use;
    } offline[] = {
        {"runtime installed", true, false, "5\n", false, false, -1, kOfflineNotAsked},
        {"the server answered", false, true, "5\n", false, false, -1, kOfflineNotAsked},
        {"nothing beside the program", false, false, nullptr, false, false, -1, kOfflineNothingDelivered},
        {"empty file", false, false, "", false, false, -1, kOfflineNoNumber},
        {"no key, old-style", false, false, "5\n", false, false, 7, kOfflineInstalls},
        {"key, unsigned", false, false, "5\n", true, false, -1, kOfflineUnverified},
        {"key, verified", false, false, "5\n", true, true, 5, kOfflineInstalls},
        {"key, below the floor", false, false, "5\n", true, true, 6, kOfflineOlderThanSeen},
        {"key, expired", false, false, "5\nexpires=2030-02-28T23:59:59Z\n", true, true, -1, kOfflineInstallsExpired},
        {"key, expired and unsigned", false, false, "5\nexpires=2030-02-28T23:59:59Z\n", true, false, -1,
         kOfflineUnverified},
    };
    for (const auto& c : offline) {
        std::string text = c.delivered ? c.delivered : "";
        ReleaseLines lines;
        ParseReleaseText(text.data(), text.size(), false, &lines);
        EXPECT_EQ(c.use, JudgeOfflineRelease(c.whole, c.serverNamed, c.delivered != nullptr, lines, c.key, c.verified,
                                             c.floor, now))
            << c.name;
    }
}

TEST(InstallRules, AWaitingRuntimeIsCommittedOnlyUnderItsOwnVersionFile)
{
    const bool stuck[] = {false, false, true}, none[] = {false, false};
    EXPECT_EQ(2, ChooseStagingSlot(stuck, 3)) << "a folder that cannot be cleared is not used";
    EXPECT_EQ(-1, ChooseStagingSlot(none, 2));

    unsigned char version[kStagedDigestSize], pack[kStagedDigestSize], other[kStagedDigestSize];
    memset(version, 0xA5, sizeof version);
    memset(pack, 0x11, sizeof pack);
    memset(other, 0xA4, sizeof other);
    char text[kStagedReleaseTextCapacity];
    for (const unsigned char* packDigest : {static_cast<const unsigned char*>(pack), static_cast<const unsigned char*>(nullptr)}) {
        size_t length = FormatStagedRelease(version, packDigest, text, sizeof text);
        ASSERT_GT(length, 0u);
        EXPECT_TRUE(StagedReleaseMatches(text, length, version));
        EXPECT_FALSE(StagedReleaseMatches(text, length, other)) << "a newer version.new";
        EXPECT_FALSE(StagedReleaseMatches(text, 40, version)) << "cut";
    }
    EXPECT_FALSE(StagedReleaseMatches("", 0, version)) << "no record: an older program's staging folder";
    EXPECT_EQ(0u, FormatStagedRelease(version, pack, text, 40)) << "does not fit";
}

// A start the machine refused is named, not retried or repaired; any other failure is not.
TEST(InstallRules, StartsRefusedByPolicyAreToldFromOtherFailures)
{
    const unsigned long policy[] = {225, 786, 1260, 4551, 4556, 4557, 4558, 4559, 4580, 4581};
    for (unsigned long code : policy)
        EXPECT_EQ(kStartRefusedByPolicy, ClassifyStartError(code)) << code;
    EXPECT_EQ(kStartNeedsElevation, ClassifyStartError(740));
    const unsigned long others[] = {0, 2, 3, 5, 32, 193, 216, 1259, 4552};
    for (unsigned long code : others)
        EXPECT_EQ(kStartNotRefused, ClassifyStartError(code)) << code;
}

// A held file is tried again with doubling pauses that end exactly at the window.
TEST(InstallRules, HeldFilesAreWaitedForWithGrowingPausesWithinTheWindow)
{
    EXPECT_TRUE(IsHoldError(5) && IsHoldError(32) && IsHoldError(33));
    EXPECT_FALSE(IsHoldError(0) || IsHoldError(2) || IsHoldError(3) || IsHoldError(183));
    unsigned long waited = 0, pauses = 0, last = 0;
    while (unsigned long pause = NextHoldPauseMs(pauses, waited, kHeldFileWindowMs)) {
        EXPECT_TRUE(pause >= last || waited + pause == kHeldFileWindowMs) << pauses;
        EXPECT_LE(pause, static_cast<unsigned long>(kLongestHoldPauseMs));
        last = pause;
        waited += pause;
        ++pauses;
    }
    EXPECT_EQ(static_cast<unsigned long>(kHeldFileWindowMs), waited);
    EXPECT_EQ(static_cast<unsigned long>(kFirstHoldPauseMs), NextHoldPauseMs(0, 0, kHeldFileWindowMs));
    EXPECT_EQ(200ul, NextHoldPauseMs(2, 150, kHeldFileWindowMs));
    EXPECT_EQ(30ul, NextHoldPauseMs(9, 970, 1000));
    EXPECT_EQ(0ul, NextHoldPauseMs(3, 1000, 1000));
    EXPECT_EQ(0ul, NextHoldPauseMs(0, 0, 0));
}
