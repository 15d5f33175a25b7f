// The yardstick of the start-up benchmark: the least a launcher has to do on a warm cache. One
// HTTPS GET of a file from a host (body read and dropped), then the start of a program, not waited
// for. Usage: winhttp_baseline HOST PATH PROGRAM [--window]
// With --window it first opens a 570 x 333 popup window, as every start of the launcher must, so
// that the bench can tell what the window itself costs from the launcher's own work.
// WinHTTP is loaded at run time, as the test tools link the user-interface libraries only.
#include <windows.h>

#include <shellapi.h>
#include <winhttp.h>

namespace {

struct WinHttp {
    decltype(&WinHttpOpen) open;
    decltype(&WinHttpConnect) connect;
    decltype(&WinHttpOpenRequest) openRequest;
    decltype(&WinHttpSendRequest) sendRequest;
    decltype(&WinHttpReceiveResponse) receiveResponse;
    decltype(&WinHttpReadData) readData;
    decltype(&WinHttpCloseHandle) closeHandle;
};

template <typename T>
bool Load(HMODULE module, const char* name, T* function)
{
    *function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

bool LoadWinHttp(WinHttp* api)
{
    HMODULE module = LoadLibraryW(L"winhttp.dll");
    return module && Load(module, "WinHttpOpen", &api->open) && Load(module, "WinHttpConnect", &api->connect) &&
           Load(module, "WinHttpOpenRequest", &api->openRequest) &&
           Load(module, "WinHttpSendRequest", &api->sendRequest) &&
           Load(module, "WinHttpReceiveResponse", &api->receiveResponse) &&
           Load(module, "WinHttpReadData", &api->readData) && Load(module, "WinHttpCloseHandle", &api->closeHandle);
}

bool Fetch(const WinHttp& api, const wchar_t* host, const wchar_t* path)
{
    bool ok = false;
    HINTERNET session = api.open(L"baseline", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? api.connect(session, host, INTERNET_DEFAULT_HTTPS_PORT, 0) : nullptr;
    HINTERNET request = connection ? api.openRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                     WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                                   : nullptr;
    if (request && api.sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        api.receiveResponse(request, nullptr)) {
        char buffer[4096];
        DWORD got = 0;
        while (api.readData(request, buffer, sizeof buffer, &got) && got > 0) {
        }
        ok = true;
    }
    if (request)
        api.closeHandle(request);
    if (connection)
        api.closeHandle(connection);
    if (session)
        api.closeHandle(session);
    return ok;
}

bool Start(const wchar_t* program)
{
    wchar_t commandLine[MAX_PATH + 16];
    lstrcpynW(commandLine, L"\"", MAX_PATH);
    lstrcatW(commandLine, program);
    lstrcatW(commandLine, L"\" -jar");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void OpenWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"baselineWindow";
    RegisterClassW(&windowClass);
    int x = (GetSystemMetrics(SM_CXSCREEN) - 570) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - 333) / 2;
    CreateWindowExW(0, windowClass.lpszClassName, L"baseline", WS_POPUP | WS_VISIBLE | WS_SYSMENU, x, y, 570, 333,
                    nullptr, nullptr, windowClass.hInstance, nullptr);
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 4 || count > 5 || lstrlenW(arguments[3]) >= MAX_PATH)
        return 2;
    if (count == 5 && lstrcmpW(arguments[4], L"--window") != 0)
        return 2;
    if (count == 5)
        OpenWindow();
    WinHttp api = {};
    int code = !LoadWinHttp(&api) ? 3 : !Fetch(api, arguments[1], arguments[2]) ? 4 : !Start(arguments[3]) ? 5 : 0;
    LocalFree(arguments);
    return code;
}
