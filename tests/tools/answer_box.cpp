// Answers a dialog of another program: answer_box <caption-substring> <yes|no|ok> [timeout-seconds]
// Waits for a visible top-level dialog (class #32770) whose caption contains the text, prints
// "CAPTION\t<caption>" and "TEXT\t<text>" (UTF-8, the dialog's static texts) and presses the
// button. Exit code 0 when the dialog was answered and closed, 1 on timeout, 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

namespace {

struct Search {
    const wchar_t* captionPart;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    wchar_t className[64] = {};
    wchar_t caption[1024] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, caption, 1024);
    if (IsWindowVisible(window) && wcscmp(className, L"#32770") == 0 && wcsstr(caption, search->captionPart)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct TextCollector {
    wchar_t text[8192];
};

BOOL CALLBACK CollectStaticText(HWND child, LPARAM parameter)
{
    TextCollector* collector = reinterpret_cast<TextCollector*>(parameter);
    wchar_t className[64] = {};
    wchar_t text[4096] = {};
    GetClassNameW(child, className, 64);
    // The icon is a static control too, but without text.
    if (_wcsicmp(className, L"Static") == 0 && GetWindowTextW(child, text, 4096) > 0) {
        size_t used = wcslen(collector->text);
        if (used > 0 && used + 1 < 8192)
            wcscat(collector->text, L"\n");
        wcsncat(collector->text, text, 8192 - wcslen(collector->text) - 1);
    }
    return TRUE;
}

void PrintUtf8Line(const char* label, const wchar_t* text)
{
    static char buffer[32768];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    fputs(label, stdout);
    if (length > 0)
        fwrite(buffer, 1, length - 1, stdout);
    fputs("\n", stdout);
    fflush(stdout);
}

int ButtonFor(const wchar_t* answer)
{
    if (_wcsicmp(answer, L"yes") == 0)
        return IDYES;
    if (_wcsicmp(answer, L"no") == 0)
        return IDNO;
    if (_wcsicmp(answer, L"ok") == 0)
        return IDOK;
    return 0;
}

bool WaitUntilGone(HWND dialog, DWORD deadline)
{
    while (IsWindow(dialog) && IsWindowVisible(dialog)) {
        if (GetTickCount() > deadline)
            return false;
        Sleep(50);
    }
    return true;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3 || !ButtonFor(arguments[2])) {
        fputs("usage: answer_box <caption-substring> <yes|no|ok> [timeout-seconds]\n", stderr);
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    int button = ButtonFor(arguments[2]);
    DWORD seconds = count > 3 ? wcstoul(arguments[3], nullptr, 10) : 30;
    DWORD deadline = GetTickCount() + seconds * 1000;
    Search search = {arguments[1], nullptr};
    while (true) {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() > deadline)
            break;
        Sleep(100);
    }
    int result = 1;
    if (search.found) {
        wchar_t caption[1024] = {};
        GetWindowTextW(search.found, caption, 1024);
        static TextCollector collector = {};
        EnumChildWindows(search.found, CollectStaticText, reinterpret_cast<LPARAM>(&collector));
        PrintUtf8Line("CAPTION\t", caption);
        PrintUtf8Line("TEXT\t", collector.text);
        HWND control = GetDlgItem(search.found, button);
        PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        // A little grace beyond the search time, so a dialog found at the last moment can close.
        if (WaitUntilGone(search.found, GetTickCount() + 10000))
            result = 0;
    }
    LocalFree(arguments);
    return result;
}
