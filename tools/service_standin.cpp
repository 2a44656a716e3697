// Test stand-in for the client's long-running programs (VN_GUI.exe,
// VN_Service.exe, VN_WatchDog.exe, VN_DHCP.exe). Started by the service
// manager it is a real service; started directly it just runs. With the
// argument "ignore-stop" it ignores the stop request. Either way it ends by
// itself after two minutes, so a failed test leaves nothing running. With
// "crash" it faults at once instead, for the tests of tests/wine-run.
#include <windows.h>

#include <cwchar>

namespace {

constexpr DWORD kLifetimeMs = 120000;
bool g_ignoreStop = false;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopped = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP && !g_ignoreStop) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopped);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status = RegisterServiceCtrlHandlerExW(L"", Control, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopped, kLifetimeMs);
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    volatile int* volatile nowhere = nullptr;  // volatile: the compiler keeps the fault
    for (int i = 1; i < argc; ++i) {
        g_ignoreStop |= wcscmp(argv[i], L"ignore-stop") == 0;
        if (wcscmp(argv[i], L"crash") == 0) *nowhere = 1;
    }
    g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) Sleep(kLifetimeMs);  // not a service: just run
    return 0;
}
