// Drivers and services with Wine's real service manager, and stopping the
// running client, with the stand-ins of tools/service_standin.
#include <doctest.h>

#include <string>

#include "harness.h"
#include "kernel/kernel.h"

namespace {

const std::wstring kStandIns = L"C:\\svc\\";

struct Manager {
    Manager() : h(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) { REQUIRE(h); }
    ~Manager() { CloseServiceHandle(h); }
    SC_HANDLE h;
};

std::wstring StandIn(const wchar_t* name) {
    CreateDirectoryW(kStandIns.c_str(), nullptr);
    std::wstring path = kStandIns + name;
    CopyFileW((ExeDir() + L"tools\\service_standin.exe").c_str(), path.c_str(), FALSE);
    return path;
}

// Registers (and optionally starts) a stand-in service; returns its process.
HANDLE Service(const wchar_t* name, const wchar_t* exe, bool start, bool ignoreStop) {
    Manager scm;
    std::wstring image = StandIn(exe) + (ignoreStop ? L" ignore-stop" : L"");
    SC_HANDLE s = CreateServiceW(scm.h, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
    REQUIRE(s);
    HANDLE process = nullptr;
    if (start) {
        REQUIRE(StartServiceW(s, 0, nullptr));
        SERVICE_STATUS_PROCESS status = {};
        DWORD bytes = 0;
        for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_RUNNING; ++i, Sleep(100))
            QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &bytes);
        process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, status.dwProcessId);
        REQUIRE(process);
    }
    CloseServiceHandle(s);
    return process;
}

HANDLE Plain(const wchar_t* exe) {
    std::wstring command = L"\"" + StandIn(exe) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD ExitCode(HANDLE process) {
    WaitForSingleObject(process, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

DWORD StartType(const wchar_t* name) {
    DWORD start = 99;
    HklmValue(std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name, L"Start", nullptr, &start);
    return start;
}

}  // namespace

TEST_CASE("the VPN driver is registered and removed with its keys") {
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    const std::wstring eventLog = L"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System\\";
    LogCapture log;
    CHECK(InstallGenericDriver(L"Tessel-1", L"Tessel-1 Module", 0, L"\\SystemRoot\\System32\\drivers\\vpn.sys",
                               L"Extended Base", nullptr) == 0);
    DWORD number = 0;
    std::wstring text;
    CHECK(HklmValue(services + L"Tessel-1", L"Start", nullptr, &number) == REG_DWORD);
    CHECK(number == SERVICE_SYSTEM_START);
    CHECK(HklmValue(services + L"Tessel-1", L"Type", nullptr, &number) == REG_DWORD);
    CHECK(number == SERVICE_KERNEL_DRIVER);
    HklmValue(services + L"Tessel-1", L"Group", &text);
    CHECK(text == L"Extended Base");
    CHECK(HklmKeyExists(eventLog + L"Tessel-1"));

    // A second install fails at the manager and creates no key.
    HKEY system;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, eventLog.substr(0, eventLog.size() - 1).c_str(), 0, KEY_ALL_ACCESS,
                          &system) == ERROR_SUCCESS);
    RegDeleteKeyW(system, L"Tessel-1");
    RegCloseKey(system);
    CHECK(InstallGenericDriver(L"Tessel-1", L"Tessel-1 Module", 0, L"x.sys", L"Extended Base", nullptr) ==
          ERROR_SERVICE_EXISTS);
    CHECK(log.Find("<Drivers Controller> InstallGenericDriver: CreateService failed (1073)") >= 0);
    CHECK_FALSE(HklmKeyExists(eventLog + L"Tessel-1"));

    CHECK(UninstallGenericDriver(L"Tessel-1") == 0);
    CHECK_FALSE(HklmKeyExists(services + L"Tessel-1"));

    // A service the manager no longer knows still loses both keys.
    HklmCreateKey(services + L"Gone");
    HklmCreateKey(eventLog + L"Gone");
    CHECK(UninstallGenericDriver(L"Gone") == ERROR_SERVICE_DOES_NOT_EXIST);
    CHECK(log.Find("<Drivers Controller> UninstallService: DeleteService failed (1060)") >= 0);
    CHECK(log.Contains("<Drivers Controller> UninstallGenericDriver: remove services key succeded"));
    CHECK(log.Contains("<Drivers Controller> UninstallGenericDriver: remove eventlog key succeded"));
    CHECK_FALSE(HklmKeyExists(services + L"Gone"));
    CHECK_FALSE(HklmKeyExists(eventLog + L"Gone"));
}

TEST_CASE("rundll32 sets the client's services to start automatically") {
    Service(L"VN_Service", L"VN_Service.exe", false, false);
    Service(L"VN_Watchdog", L"VN_WatchDog.exe", false, false);
    REQUIRE(StartType(L"VN_Service") == SERVICE_DEMAND_START);
    std::wstring command = L"rundll32.exe \"" + ExeDir() + L"tamber.dll\",SetServicesStartTypeAuto2 any words";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CHECK(StartType(L"VN_Service") == SERVICE_AUTO_START);
    CHECK(StartType(L"VN_Watchdog") == SERVICE_AUTO_START);

    LogCapture log;
    CHECK(SetServicesStatupType(SERVICE_DEMAND_START) == 1);
    CHECK(StartType(L"VN_Watchdog") == SERVICE_DEMAND_START);
    CHECK(log.Contains("<Drivers Controller> SetServicesStatupType: ChangeServiceConfig vn_service returned with true"));
}

TEST_CASE("finding the client's processes") {
    DWORD id = 1;
    HANDLE found = reinterpret_cast<HANDLE>(1);
    CHECK(FindProcessByName("VN_GUI.exe", &id, &found, kProcessAccess) == 0);
    CHECK(id == 0);
    CHECK(found == nullptr);
    CHECK(StopClientProcesses() == 0);  // nothing running: nothing to wait for

    HANDLE gui = Plain(L"vn_gui.EXE");
    CHECK(FindProcessByName("C:\\anywhere\\VN_GUI.exe", &id, &found, kProcessAccess) == 0);
    CHECK(id == GetProcessId(gui));
    REQUIRE(found != nullptr);
    CloseHandle(found);
    TerminateProcess(gui, 0);
    CloseHandle(gui);
}

TEST_CASE("stopping the client ends what honours the request and terminates the rest") {
    HANDLE watchdog = Service(L"VN_WatchDog", L"VN_WatchDog.exe", true, false);
    HANDLE service = Service(L"VN_Service", L"VN_Service.exe", true, true);
    HANDLE gui = Plain(L"VN_GUI.exe");

    CHECK(StopClientProcesses() == 0);
    CHECK(ExitCode(watchdog) == 0);  // stopped by its request
    CHECK(ExitCode(service) == kExitService);
    CHECK(ExitCode(gui) == kExitGui);
}
