// DownloadfileDirect, ReportHttpStatus and DownloadWithAuthentication called directly.
//
// LiveDownload.Case is the one runner of the live download cases: tests/e2e/harness/
// download_cases.py holds each case (what the scripted origin answers, the calls, what is
// expected) and tests/e2e/test_download.py runs it here inside the test namespace, one case per
// process, so the once-per-process status report starts fresh each time. The runner takes the
// calls from the environment and prints what they gave; the checks are on the Python side.
//   LAUNCHER_TEST_ORIGIN  the download host (the runner skips without it)
//   LAUNCHER_CASE_HOST    another host for the calls (a name no resolver knows)
//   LAUNCHER_CASE_PROXY   an explicit proxy for the first attempt of DownloadfileDirect
//   LAUNCHER_CASE_SCRIPT  the address of the user's proxy configuration script
//   LAUNCHER_CASE_STEPS   the calls, separated by "|": "<call> <path> [missing-folder] [limit=N]
//                         [validator=V]", call direct, auth, fetch (FetchFileConditionally) or pack
//                         (DownloadRuntimePack beside the target), "-dialog" added: DownloadfileDirect
//                         shows its dialog, "-plain" added last: useTls 0; V: fetch's validator,
//                         pack's refused one
// Wine's http_proxy gives the default proxy. With LAUNCHER_TEST_DIALOGS=outside the runner only
// watches the warning dialogs and leaves answering them to the driver.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/state.h"
#include "log/format.h"
#include "net/archive_download.h"
#include "net/authdownload.h"
#include "net/download.h"
#include "net/pack_download.h"
#include "test_helpers.h"

namespace {

std::string Pattern(size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(i % 251);
    return out;
}

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The texts of the log lines, without time stamp and line end.
std::vector<std::string> LogTexts()
{
    std::vector<std::string> texts;
    std::string log = ReadWholeFile(launcherState.logFilePath);
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        size_t colon = line.find(": ");
        texts.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        start = end + 2;
    }
    return texts;
}

int CountLines(const std::string& text)
{
    int n = 0;
    for (const std::string& t : LogTexts())
        n += t == text;
    return n;
}

std::string AllLog()
{
    std::string all;
    for (const std::string& t : LogTexts())
        all += t + "\n";
    return all;
}

// Remembers the text of every "tarvolin Launcher Fehler" message box and closes it, unless a
// driver outside the process answers the boxes (LAUNCHER_TEST_DIALOGS=outside).
class DialogWatcher {
public:
    DialogWatcher() : answer_(Env("LAUNCHER_TEST_DIALOGS") != "outside"), thread_([this] { Run(); }) {}
    ~DialogWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Texts()
    {
        Sleep(300); // a box shown just now is found on the next round
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    void Run()
    {
        while (!stop_) {
            HWND box = FindWindowW(L"#32770", L"tarvolin Launcher Fehler");
            if (box && box != last_) {
                wchar_t text[4096] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 4096);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    texts_.push_back(text);
                }
                last_ = box;
                if (answer_)
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(50);
        }
    }
    bool answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> texts_;
    HWND last_ = nullptr;
    std::thread thread_;
};

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetLauncherState();
        log_ = TempPath(L"download_test.log");
        BoundedFormat(launcherState.logFilePath, kPathCapacity, L"%s", log_.c_str());
        DeleteFileW(log_.c_str());
        target_ = TempPath(L"download_test.bin");
        DeleteFileW(target_.c_str());
    }
    void TearDown() override
    {
        DeleteFileW(target_.c_str());
        DeleteFileW((target_ + L".part").c_str());
        DeleteFileW((target_ + L".part.meta").c_str());
        DeleteFileW(log_.c_str());
        ResetLauncherState();
    }
    std::wstring log_;
    std::wstring target_;
};

} // namespace

// --- without a server -------------------------------------------------------------------------

TEST_F(Download, ReportHttpStatusReportsOnlyTheFirstErrorOfTheProcess)
{
    ReportHttpStatus(404, false);
    ReportHttpStatus(500, false);
    ReportHttpStatus(401, false);
    EXPECT_EQ(3, launcherState.statusMessageCount);
    EXPECT_EQ((std::vector<std::string>{"Fehler: HTTP-Statuscode=404 Resource nicht gefunden."}), LogTexts());
}

TEST_F(Download, ReportHttpStatusUsesTheFormatOfTheStatus)
{
    const std::pair<DWORD, const char*> cases[] = {
        {401, "Fehler: HTTP-Statuscode=401 Nicht autorisiert."},
        {403, "Fehler: HTTP-Statuscode=403 Forbidden."},
        {407, "Fehler: HTTP-Statuscode=407 Proxy Authentifizierung notwendig."},
        {408, "Fehler: HTTP-Statuscode=408 Request Timeout."},
        {503, "Fehler: HTTP-Statuscode=503."},
    };
    for (const auto& [status, text] : cases) {
        DeleteFileW(log_.c_str());
        launcherState.statusMessageCount = 0;
        ReportHttpStatus(status, false);
        EXPECT_EQ((std::vector<std::string>{text}), LogTexts());
    }
}

TEST_F(Download, AuthenticatedDownloadIntoAMissingFolderOnlyLogs)
{
    std::wstring target = TempPath(L"no-such-folder-4711\\file.bin");
    EXPECT_EQ(0, DownloadWithAuthentication(L"/e2e/ok", 1, target.c_str(), kNoByteLimit));
    std::string line = "Could not create destination file \"";
    std::vector<std::string> texts = LogTexts();
    ASSERT_EQ(2u, texts.size()) << AllLog();
    EXPECT_EQ(0u, texts[0].find("DownloadWithAuthentication https://"));
    EXPECT_EQ(0u, texts[1].find(line));
    EXPECT_FALSE(Exists(target));
}

TEST_F(Download, AChunkThatCannotBeWrittenIsReportedAndLogged)
{
    // A handle without write access fails every write, as a full disk does.
    HANDLE create = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, create);
    CloseHandle(create);
    HANDLE readOnly = CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    EXPECT_FALSE(WriteBodyChunk(readOnly, "abc", 3, L"DownloadfileDirect: Datei konnte nicht geschrieben werden"));
    CloseHandle(readOnly);
    EXPECT_EQ(1, CountLines("Fehler 5: DownloadfileDirect: Datei konnte nicht geschrieben werden")) << AllLog();

    HANDLE writable = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writable);
    EXPECT_TRUE(WriteBodyChunk(writable, "abc", 3, L"unused"));
    CloseHandle(writable);
    EXPECT_EQ("abc", ReadWholeFile(target_));
    EXPECT_EQ(1u, LogTexts().size());
}

// --- the live download cases ------------------------------------------------------------------

namespace {

std::string Hex(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Runs one call of a case and prints what it gave: result, whether the target exists, its size,
// whether it is the scripted pattern of that size, the body itself when short, the log lines so
// far and the target's name.
void RunStep(size_t number, const std::string& step, const std::wstring& defaultTarget)
{
    std::vector<std::string> words = Split(step, ' ');
    ASSERT_GE(words.size(), 2u) << step;
    std::wstring path = Widen(words[1]);
    std::wstring target = defaultTarget;
    uint64_t limit = kNoByteLimit;
    std::wstring validator;
    for (size_t i = 2; i < words.size(); ++i) {
        if (words[i] == "missing-folder")
            target = TempPath(L"no-such-folder-4711\\file.bin");
        else if (words[i].compare(0, 6, "limit=") == 0)
            limit = std::stoull(words[i].substr(6));
        else if (words[i].compare(0, 10, "validator=") == 0)
            validator = Widen(words[i].substr(10));
    }
    std::string call = words[0];
    int useTls = 1;
    if (call.size() > 6 && call.compare(call.size() - 6, 6, "-plain") == 0) {
        useTls = 0;
        call.resize(call.size() - 6);
    }
    int result = -1;
    FetchedFile fetched = {};
    bool digestHolds = true; // a fetch's digest and length are those of the file it wrote
    if (call == "direct" || call == "direct-dialog") {
        result = DownloadfileDirect(path.c_str(), useTls, target.c_str(), call == "direct-dialog", limit);
    } else if (call == "auth") {
        result = DownloadWithAuthentication(path.c_str(), useTls, target.c_str(), limit);
    } else if (call == "auth-pack") {
        PackRoom room = {};
        result = DownloadPackWithAuthentication(path.c_str(), target.c_str(), limit == kNoByteLimit ? 0 : limit, &room);
    } else if (call == "fetch") {
        result = FetchFileConditionally(path.c_str(), target.c_str(), validator.c_str(), limit, &fetched);
        unsigned char digest[kSha256Size] = {};
        uint64_t size = 0;
        digestHolds = result != kFetchReceived || (fetched.hashed && HashFile(target.c_str(), digest, &size) == 0 &&
                                                   size == fetched.length && !memcmp(digest, fetched.sha256, kSha256Size));
    } else if (call == "pack") {
        std::wstring folder = target.substr(0, target.rfind(L'\\'));
        BoundedFormat(launcherState.cacheFolder, kPathCapacity, L"%s", folder.c_str());
        BoundedFormat(launcherState.partialPackFile, kPathCapacity, L"%s.part", target.c_str());
        BoundedFormat(launcherState.partialPackMetaFile, kPathCapacity, L"%s.part.meta", target.c_str());
        PackRoom room = {};
        result = DownloadRuntimePack(path.c_str(), target.c_str(), 0, validator.c_str(), fetched.validator, &room,
                                     nullptr);
    }
    ASSERT_NE(-1, result) << "unknown call " << words[0];
    std::string body = ReadWholeFile(target);
    std::string narrowTarget(target.begin(), target.end());
    std::string answered(fetched.validator, fetched.validator + wcslen(fetched.validator));
    printf("STEP\t%u\tRESULT\t%d\tEXISTS\t%d\tBYTES\t%u\tPATTERN\t%d\tBODY\t%s\tLOGLINES\t%u\tTARGET\t%s\t"
           "VALIDATOR\t%s\tDIGEST\t%d\n",
           static_cast<unsigned>(number), result, Exists(target) ? 1 : 0, static_cast<unsigned>(body.size()),
           body == Pattern(body.size()) ? 1 : 0, body.size() <= 256 ? Hex(body.data(), body.size()).c_str() : "-",
           static_cast<unsigned>(LogTexts().size()), Hex(narrowTarget.data(), narrowTarget.size()).c_str(),
           Hex(answered.data(), answered.size()).c_str(), digestHolds ? 1 : 0);
}

class LiveDownload : public Download {
protected:
    void SetUp() override
    {
        Download::SetUp();
        std::string host = Env("LAUNCHER_TEST_ORIGIN");
        if (host.empty())
            GTEST_SKIP() << "LAUNCHER_TEST_ORIGIN names no origin";
        if (!Env("LAUNCHER_CASE_HOST").empty())
            host = Env("LAUNCHER_CASE_HOST");
        BoundedFormat(launcherState.downloadHost, kPathCapacity, L"%s", Widen(host).c_str());
        proxyText_ = Widen(Env("LAUNCHER_CASE_PROXY"));
        if (!proxyText_.empty())
            launcherState.proxyConfig.lpszProxy = &proxyText_[0];
        script_ = Widen(Env("LAUNCHER_CASE_SCRIPT"));
        if (!script_.empty())
            launcherState.proxyConfig.lpszAutoConfigUrl = &script_[0];
    }
    void TearDown() override
    {
        // The texts belong to this fixture; the state must not keep pointing at them.
        launcherState.proxyConfig.lpszProxy = nullptr;
        launcherState.proxyConfig.lpszAutoConfigUrl = nullptr;
        Download::TearDown();
    }
    std::wstring proxyText_;
    std::wstring script_;
};

} // namespace

TEST_F(LiveDownload, Case)
{
    std::vector<std::string> steps = Split(Env("LAUNCHER_CASE_STEPS"), '|');
    ASSERT_FALSE(steps.empty()) << "LAUNCHER_CASE_STEPS names no call";
    std::vector<std::wstring> dialogs;
    {
        DialogWatcher watcher;
        for (size_t i = 0; i < steps.size(); ++i)
            RunStep(i + 1, steps[i], target_);
        dialogs = watcher.Texts();
    }
    for (const std::string& text : LogTexts())
        printf("LOG\t%s\n", Hex(text.data(), text.size()).c_str());
    for (const std::wstring& text : dialogs)
        printf("DIALOG\t%s\n", Hex(text.data(), text.size() * sizeof(wchar_t)).c_str());
    printf("STATUS_MESSAGES\t%d\n", launcherState.statusMessageCount);
    fflush(stdout);
}
