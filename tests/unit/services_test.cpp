// Drivers and services with Wine's real service manager, and stopping the
// running client, with the stand-ins of tools/service_standin.
#include <doctest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "kernel/kernel.h"

namespace {

std::wstring StandIn(const wchar_t* name) {
    CreateDirectoryW(L"C:\\svc", nullptr);
    std::wstring path = std::wstring(L"C:\\svc\\") + name;
    CopyFileW((ExeDir() + L"tools\\service_standin.exe").c_str(), path.c_str(), FALSE);
    return path;
}

// Registers and starts a stand-in service; returns its process.
HANDLE Service(const wchar_t* name, bool ignoreStop) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::wstring image = StandIn((std::wstring(name) + L".exe").c_str()) + (ignoreStop ? L" ignore-stop" : L"");
    SC_HANDLE s = CreateServiceW(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!s && (s = OpenServiceW(scm, name, SERVICE_ALL_ACCESS)))  // registered by an earlier round
        ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, image.c_str(), nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(s);
    REQUIRE(StartServiceW(s, 0, nullptr));
    SERVICE_STATUS_PROCESS status = {};
    DWORD bytes = 0;
    for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_RUNNING; ++i, Sleep(100))
        QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &bytes);
    CloseServiceHandle(s);
    CloseServiceHandle(scm);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, status.dwProcessId);
    REQUIRE(process);
    return process;
}

DWORD ExitCode(HANDLE process) {
    WaitForSingleObject(process, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

}  // namespace

TEST_CASE("a driver the manager no longer knows still loses both keys") {
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\Gone";
    const std::wstring eventLog = L"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System\\Gone";
    HklmCreateKey(services);
    HklmCreateKey(eventLog);
    CHECK(UninstallGenericDriver(L"Gone") == ERROR_SERVICE_DOES_NOT_EXIST);
    CHECK_FALSE(HklmKeyExists(services));
    CHECK_FALSE(HklmKeyExists(eventLog));
}

TEST_CASE("stopping the client ends what honours the request and terminates the rest") {
    CHECK(StopClientProcesses() == 0);  // nothing running: nothing to wait for

    // Each group is asked by its service's name and waited for; what ignores
    // the request is terminated with its group's code, the DHCP service with
    // the watchdog's.
    struct Member { const wchar_t* name; bool ignoreStop; DWORD exitCode; };
    const std::vector<std::vector<Member>> rounds = {
        {{L"VN_WatchDog", false, 0}, {L"VN_Service", true, kExitService}, {L"VN_DHCP", true, kExitWatchdog}},
        {{L"VN_WatchDog", true, kExitWatchdog}, {L"VN_DHCP", false, 0}},
    };
    std::wstring command = L"\"" + StandIn(L"vn_gui.EXE") + L"\"";  // found whatever the case
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION gui = {};
    for (const auto& round : rounds) {
        std::vector<HANDLE> processes;
        for (const Member& m : round) processes.push_back(Service(m.name, m.ignoreStop));
        // Only once the services run: Wine hands the control pipe of a
        // starting service to any stand-in that asks for one.
        if (!gui.hProcess)
            REQUIRE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &gui));
        CHECK(StopClientProcesses() == 0);
        for (size_t i = 0; i < round.size(); ++i) {
            CAPTURE(Narrow(round[i].name));
            CHECK(ExitCode(processes[i]) == round[i].exitCode);
        }
    }
    CHECK(ExitCode(gui.hProcess) == kExitGui);  // went with the main service in the first round
}
